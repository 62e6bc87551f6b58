#pragma once
// The two failure modes of a long operation: stop-on-failure lets a step's AutomationError end
// the operation; continue-past-failure abandons only that step.

#include <exception>
#include <new>
#include <utility>

#include "quenvar/automation_error.h"

namespace quenvar {

// The in-flight exception as an AutomationError: out of memory is 7, anything that is not
// an automation error counts as the runtime's internal error 51.
AutomationError currentFailure();

class Steps {
 public:
  enum class Mode { StopOnFailure, ContinuePastFailure };

  Mode mode() const { return mode_; }
  void continuePastFailure() { mode_ = Mode::ContinuePastFailure; }

  // Runs one step; returns whether it completed.
  template <class F>
  bool operator()(F&& step) {
    if (mode_ == Mode::StopOnFailure) {
      std::forward<F>(step)();
      return true;
    }
    try {
      std::forward<F>(step)();
      return true;
    } catch (...) {
      (void)currentFailure();
      return false;
    }
  }

 private:
  Mode mode_ = Mode::StopOnFailure;
};

}  // namespace quenvar
