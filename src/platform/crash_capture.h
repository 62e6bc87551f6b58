#pragma once
// Catching the faults that end the process (a signal on Linux, an unhandled exception on
// Windows). The crashing thread only hands over: it fills a record it owns, wakes a thread made
// when capture was installed and waits for it a bounded time; everything that allocates, takes
// a lock or writes a file happens on that thread. Then the process ends as it would have
// without us: the disposition or filter we found runs next.

#include <cstdint>
#include <functional>
#include <string_view>

namespace quenvar {

// What the crashing thread knows, filled without allocating.
struct CrashFacts {
  char type[48] = {};     // "SIGSEGV", "EXCEPTION_ACCESS_VIOLATION"
  char value[160] = {};   // in words, with the code and address
  char mechanism[32] = {};  // "signalhandler", "UnhandledExceptionFilter", "abort", ...
  int32_t signal = 0;     // the signal's number; 0 on Windows
  uint32_t code = 0;      // si_code or the exception code
  uint64_t address = 0;   // where it faulted, or the address it touched
  uint64_t thread = 0;    // the crashing thread, as threadId() names it
};

class CrashCapture {
 public:
  virtual ~CrashCapture() = default;
  // Runs on the capture's own thread, with the crashing thread stopped and waiting: once with
  // the facts, then, where the backend makes a dump of the process, again with the same facts
  // and the dump. Whatever it has not done after a bounded time is left undone: the process ends.
  using OnCrash = std::function<void(const CrashFacts& facts, std::string_view minidump)>;

  // Puts capture in place, or on top again when another took the place since; everything a
  // crash needs is made ready here. Raises when it cannot be.
  virtual void install(OnCrash onCrash) = 0;
  // Gives back what capture replaced, where it is still ours.
  virtual void remove() = 0;
  virtual bool installed() = 0;
  // Readies the calling thread for a crash on it (an alternate stack for a stack overflow); a
  // thread that keeps procedure stacks calls it once.
  virtual void prepareThread() = 0;
  // The calling thread's id, as CrashFacts::thread names a crashing one.
  virtual uint64_t threadId() = 0;
};

}  // namespace quenvar
