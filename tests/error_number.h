#pragma once
// Shared by the backend test programs of both platforms.

#include <functional>

#include "quenvar/automation_error.h"

namespace quenvar::testing {

// The automation error number an action raised, or 0.
inline int errorNumber(const std::function<void()>& action) {
  try {
    action();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace quenvar::testing
