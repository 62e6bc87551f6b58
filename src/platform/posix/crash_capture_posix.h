#pragma once

#include "platform/crash_capture.h"

namespace quenvar {

// SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT, handled on an alternate stack. The handler fills
// a record made at install, wakes the capture's thread through a pipe and waits for its answer
// on another (at most ten seconds, with poll: both are safe in a signal handler); then the
// disposition found at install runs, or the signal is raised again under the default one, so
// that the process dies by it with its core dump.
class PosixCrashCapture : public CrashCapture {
 public:
  void install(OnCrash onCrash) override;
  void remove() override;
  bool installed() override;
  void prepareThread() override;
  uint64_t threadId() override;
};

}  // namespace quenvar
