#include "platform/win32/event_log_win32.h"

#include <gtest/gtest.h>

#include "core/component.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

TEST(Win32EventLog, EveryTypeIsWrittenThroughARegisteredSource) {
  Win32EventLog log;
  for (const int type : {EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE}) {
    const EventRecord record{kComponentTitle, static_cast<uint16_t>(type), 1, 1003, "Error from Quenvar\rcaf\xC3\xA9"};
    EXPECT_EQ(log.report(record), 0u) << type;
  }
  EXPECT_EQ(log.report(EventRecord{"Another source", EVENTLOG_ERROR_TYPE, 0, 1, ""}), 0u);
  EXPECT_EQ(log.report(EventRecord{kComponentTitle, EVENTLOG_ERROR_TYPE, 1, 1003, std::string(40000, 'x')}), 0u);
}

// Run on its own by CTest, which sets the token and reads the program's standard error: the
// entry's text shows there, as the log received it, and nowhere else.
TEST(Win32EventLogOutput, TheEntryReachesTheLog) {
  const std::string token = testing::environment(L"QUENVAR_EVENT_TOKEN");
  if (token.empty()) GTEST_SKIP() << "QUENVAR_EVENT_TOKEN is not set";
  const EventRecord record{kComponentTitle, EVENTLOG_ERROR_TYPE, 1, 1003,
                           token + " caf\xC3\xA9\r\nsecond line of " + token};
  EXPECT_EQ(Win32EventLog().report(record), 0u);
}

}  // namespace
}  // namespace quenvar
