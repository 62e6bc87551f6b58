#pragma once

#include <cstdint>

namespace quenvar {

// A local calendar time, as the platform's clock reads it.
struct LocalTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime localNow() = 0;
};

}  // namespace quenvar
