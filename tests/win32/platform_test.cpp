#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/win32/registry_settings_store.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_event_log.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_launcher.h"
#include "platform/win32/win32_locale_text.h"
#include "platform/win32/win32_mail_services.h"
#include "platform/win32/win32_message_box.h"
#include "platform/win32/win32_module_info.h"
#include "platform/win32/win32_os_facts.h"
#include "platform/win32/win32_window_system.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

TEST(Win32Platform, EveryServiceIsFilledWithItsBackend) {
  Platform& p = defaultPlatform();
  EXPECT_EQ(&defaultPlatform(), &p);
  EXPECT_NE(dynamic_cast<Win32FileSystem*>(p.files), nullptr);
  EXPECT_NE(dynamic_cast<Win32Clock*>(p.clock), nullptr);
  EXPECT_NE(dynamic_cast<Win32LocaleText*>(p.locale), nullptr);
  EXPECT_NE(dynamic_cast<RegistrySettingsStore*>(p.settings), nullptr);
  EXPECT_NE(dynamic_cast<Win32EventLog*>(p.eventLog), nullptr);
  EXPECT_NE(dynamic_cast<Win32Launcher*>(p.launcher), nullptr);
  EXPECT_NE(dynamic_cast<Win32MessageBox*>(p.messageBox), nullptr);
  EXPECT_NE(dynamic_cast<Win32OsFacts*>(p.os), nullptr);
  EXPECT_NE(dynamic_cast<Win32ModuleInfo*>(p.module), nullptr);
  EXPECT_NE(dynamic_cast<Win32WindowSystem*>(p.windows), nullptr);
  EXPECT_NE(dynamic_cast<Win32Clipboard*>(p.clipboard), nullptr);
  EXPECT_NE(dynamic_cast<Win32MousePointer*>(p.pointer), nullptr);
  EXPECT_NE(dynamic_cast<Win32ShellLauncher*>(p.shell), nullptr);
  EXPECT_NE(dynamic_cast<Win32Network*>(p.network), nullptr);
  EXPECT_EQ(p.files->separator(), '\\');
  EXPECT_EQ(p.module->name(), QUENVAR_TEST_PROGRAM_NAME);
}

// Against the system clock read another way: UTC, turned local by the file-time calls.
TEST(Win32Clock, ReadsTheLocalWallClock) {
  FILETIME utc{}, local{};
  ::GetSystemTimeAsFileTime(&utc);
  ASSERT_TRUE(::FileTimeToLocalFileTime(&utc, &local));
  SYSTEMTIME expected{};
  ASSERT_TRUE(::FileTimeToSystemTime(&local, &expected));
  const LocalTime t = Win32Clock().localNow();
  const double drift =
      toDate(t).serial - toDate(LocalTime{expected.wYear, expected.wMonth, expected.wDay, expected.wHour,
                                          expected.wMinute, expected.wSecond})
                             .serial;
  EXPECT_LT(std::fabs(drift) * 86400, 2.0);
  EXPECT_GE(t.year, 2024);
}

}  // namespace
}  // namespace quenvar
