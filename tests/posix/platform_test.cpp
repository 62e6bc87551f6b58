#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/syslog_event_log.h"

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
