#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/win32/settings_store_registry.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/event_log_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/launcher_win32.h"
#include "platform/win32/locale_text_win32.h"
#include "platform/win32/clipboard_win32.h"
#include "platform/win32/mouse_pointer_win32.h"
#include "platform/win32/network_win32.h"
#include "platform/win32/shell_launcher_win32.h"
#include "platform/win32/message_box_win32.h"
#include "platform/win32/module_info_win32.h"
#include "platform/win32/os_facts_win32.h"
#include "platform/win32/window_system_win32.h"
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
