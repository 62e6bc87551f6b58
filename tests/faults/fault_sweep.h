#pragma once
// The loop of a fault-injection test: the same scene again and again, its n-th countable
// platform call failing, for n = 1, 2, ... until a run meets no fault at all.

#include <functional>
#include <optional>

#include "faults/faulty_platform.h"

namespace quenvar::faults {

struct Sweep {
  bool sticky = false;                  // the fault stays from its call on
  std::optional<Service> service = {};  // none: whichever service is called
};

// Each run starts with fresh per-thread state, arms `plan` itself once its scene is set, and
// must end within three seconds of wall time: a hung run aborts the process, since it cannot be
// unwound. A run may not leave a file descriptor open. Returns the number of runs that met a
// fault.
int sweep(const Sweep& how, const std::function<void(FaultPlan& plan)>& run);

}  // namespace quenvar::faults
