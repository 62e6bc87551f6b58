#pragma once

#include "platform/clock.h"

namespace quenvar {

class Win32Clock : public Clock {
 public:
  LocalTime localNow() override;
};

}  // namespace quenvar
