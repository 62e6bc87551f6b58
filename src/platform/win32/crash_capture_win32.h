#pragma once

#include "platform/crash_capture.h"

namespace quenvar {

// The process's unhandled-exception filter, and the abort, pure-call and invalid-parameter
// handlers of each C runtime loaded in it (msvcrt, ucrtbase). Each hands over to a thread made
// at install, which writes a minidump with dbghelp (loaded at install) while the crashing
// thread waits, as long as the capture moves (a minute at most); then what was there before
// runs. The module stays loaded while capture is installed: a filter pointing into an unloaded
// DLL would fault in its turn.
class Win32CrashCapture : public CrashCapture {
 public:
  void install(OnCrash onCrash) override;
  void remove() override;
  bool installed() override;
  void prepareThread() override;
  uint64_t threadId() override;
};

}  // namespace quenvar
