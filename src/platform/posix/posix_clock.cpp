#include "platform/posix/posix_clock.h"

#include <time.h>

namespace quenvar {

LocalTime PosixClock::localNow() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts {};
  // Without time-zone data the time is still worth reporting, in UTC.
  if (::localtime_r(&now.tv_sec, &parts) == nullptr) ::gmtime_r(&now.tv_sec, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  return t;
}

}  // namespace quenvar
