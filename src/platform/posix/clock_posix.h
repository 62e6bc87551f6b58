#pragma once

#include "platform/clock.h"

namespace quenvar {

class PosixClock : public Clock {
 public:
  LocalTime localNow() override;
};

}  // namespace quenvar
