#include "platform/posix/clock_posix.h"

#include <time.h>

namespace quenvar {

LocalTime PosixClock::localNow() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm fields {};
  // Without time-zone data the time is still worth reporting, in UTC.
  if (::localtime_r(&now.tv_sec, &fields) == nullptr) ::gmtime_r(&now.tv_sec, &fields);
  LocalTime t;
  t.year = fields.tm_year + 1900;
  t.month = fields.tm_mon + 1;
  t.day = fields.tm_mday;
  t.hour = fields.tm_hour;
  t.minute = fields.tm_min;
  t.second = fields.tm_sec;
  return t;
}

}  // namespace quenvar
