#include "platform/platform.h"

#include <gtest/gtest.h>

#include "quenvar/automation_error.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/clock_posix.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/clipboard_in_process.h"
#include "platform/posix/mouse_pointer_recorded.h"
#include "platform/posix/network_posix.h"
#include "platform/posix/shell_launcher_xdg.h"
#include "platform/posix/event_log_syslog.h"

namespace quenvar {
namespace {

TEST(PosixPlatform, EveryServiceIsFilledWithItsBackend) {
  Platform& p = defaultPlatform();
  EXPECT_EQ(&defaultPlatform(), &p);
  EXPECT_TRUE(p.files && p.clock && p.locale && p.settings && p.eventLog && p.launcher && p.messageBox && p.os &&
              p.module && p.windows);
  EXPECT_NE(dynamic_cast<PosixFileSystem*>(p.files), nullptr);
  EXPECT_NE(dynamic_cast<SyslogEventLog*>(p.eventLog), nullptr);
  EXPECT_EQ(p.module->name(), "quenvar");
  EXPECT_TRUE(p.clipboard && p.pointer && p.shell && p.mailClient && p.network);
  EXPECT_NE(dynamic_cast<PosixSocket*>(p.network->openSocket().get()), nullptr);
}

// The clipboard is one for the process: threads setting and reading it at once each see one
// whole text that was put there.
TEST(PosixMailServices, ClipboardTakesOneThreadAtATime) {
  InProcessClipboard clipboard;
  const std::string texts[] = {std::string(1 << 16, 'a'), std::string(1 << 16, 'b'), std::string(3, 'c')};
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (const std::string& text : texts)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000 && !torn; ++i) {
        clipboard.setText(text);
        const std::string seen = clipboard.text();
        if (std::find(std::begin(texts), std::end(texts), seen) == std::end(texts)) torn = true;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(torn);
}

TEST(PosixMailServices, StandInsAndLauncherAnswers) {
  InProcessClipboard clipboard;
  clipboard.setText("a");
  clipboard.setText("b");
  EXPECT_EQ(clipboard.text(), "b");
  try {
    NoMailClientAutomation().create();
    ADD_FAILURE();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 429);
  }
  // Without xdg-open on the search path the launcher answers "file not found".
  const char* saved = ::getenv("PATH");
  const std::string path = saved ? saved : "";
  ::setenv("PATH", "/nonexistent", 1);
  const int64_t missing = XdgShellLauncher().open("mailto:a@b", "", "");
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(missing, 2);
}

TEST(PosixClock, ReadsTheLocalWallClock) {
  const time_t now = ::time(nullptr);
  tm expected{};
  ::localtime_r(&now, &expected);
  const LocalTime t = PosixClock().localNow();
  const double drift = toDate(t).serial - toDate(LocalTime{expected.tm_year + 1900, expected.tm_mon + 1,
                                                           expected.tm_mday, expected.tm_hour, expected.tm_min,
                                                           expected.tm_sec}).serial;
  EXPECT_LT(std::fabs(drift) * 86400, 2.0);
}

}  // namespace
}  // namespace quenvar
