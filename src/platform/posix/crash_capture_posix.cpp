#include "platform/posix/crash_capture_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/crash_text.h"
#include "platform/posix/errno_errors.h"

namespace quenvar {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// The longest a crashing thread waits for its report: then the process ends without it.
constexpr int kLongestWaitMs = 10000;
// The capture's thread builds an event and writes a file: no deeper than this.
constexpr size_t kWorkerStack = 256 * 1024;
constexpr size_t kAlternateStack = 64 * 1024;

// Made at the first install and never destroyed: a crash may come while the process ends.
struct Capture {
  std::timed_mutex lock;  // install and remove, and the capture's thread reading onCrash
  CrashCapture::OnCrash onCrash;
  std::atomic<bool> installed{false};
  int wake[2] = {-1, -1}, done[2] = {-1, -1};
  std::atomic<pid_t> worker{0};
  struct sigaction previous[NSIG] = {};
  std::atomic<pid_t> crashing{0};
  CrashFacts facts;
};
std::atomic<Capture*> capture{nullptr};

pid_t currentThread() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

const char* signalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    default: return "SIGABRT";
  }
}

const char* inWords(int signal, int code) {
  switch (signal) {
    case SIGSEGV: return code == SEGV_ACCERR ? "Segmentation fault, access not allowed" : "Segmentation fault";
    case SIGBUS: return code == BUS_ADRALN ? "Bus error, misaligned address" : "Bus error";
    case SIGILL: return "Illegal instruction";
    case SIGFPE:
      return code == FPE_INTDIV ? "Integer divide by zero"
             : code == FPE_INTOVF ? "Integer overflow"
                                  : "Floating-point exception";
    default: return "Aborted";
  }
}

void describe(CrashFacts& facts, int signal, const siginfo_t* info) {
  const int code = info != nullptr ? info->si_code : 0;
  const auto address = info != nullptr && signal != SIGABRT ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
  CrashText(facts.type, sizeof facts.type) << signalName(signal);
  CrashText(facts.mechanism, sizeof facts.mechanism) << "signalhandler";
  CrashText value(facts.value, sizeof facts.value);
  value << inWords(signal, code);
  // A signal someone sent (kill, raise, abort) has a code of zero or less and no address.
  if (code > 0) {
    value << " (code ";
    value.number(static_cast<uint64_t>(code), 10, 1) << ") at address 0x";
    value.number(address, 16, 2 * sizeof(void*));
  }
  facts.signal = signal;
  facts.code = static_cast<uint32_t>(code);
  facts.address = address;
}

// Until the capture's thread answers, or the time is up.
void waitForReport(const Capture& c) {
  timespec start{}, now{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (int left = kLongestWaitMs; left > 0;) {
    pollfd answer{c.done[0], POLLIN, 0};
    if (::poll(&answer, 1, left) != -1 || errno != EINTR) return;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    left = kLongestWaitMs - static_cast<int>((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
  }
}

// The process goes on as it would have without us: the disposition found at install, put back
// and called; or the default one, the signal raised again to come when this handler returns (a
// fault of the instruction would come again anyway, one sent by kill or abort would not).
void passOn(int signal, siginfo_t* info, void* context, bool reentered) {
  const Capture* c = capture.load(std::memory_order_acquire);
  if (c != nullptr && !reentered) {
    const struct sigaction& previous = c->previous[signal];
    const bool siginfo = (previous.sa_flags & SA_SIGINFO) != 0;
    if (siginfo ? previous.sa_sigaction != nullptr
                : previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      ::sigaction(signal, &previous, nullptr);
      if (siginfo) previous.sa_sigaction(signal, info, context);
      else previous.sa_handler(signal);
      return;
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::syscall(SYS_tgkill, ::getpid(), currentThread(), signal);
}

void onSignal(int signal, siginfo_t* info, void* context) {
  const int saved = errno;
  Capture* c = capture.load(std::memory_order_acquire);
  const pid_t self = currentThread();
  bool reentered = false;
  if (c != nullptr && self != c->worker.load()) {
    pid_t first = 0;
    if (c->crashing.compare_exchange_strong(first, self)) {
      describe(c->facts, signal, info);
      c->facts.thread = static_cast<uint64_t>(self);
      const char wake = 1;
      if (::write(c->wake[1], &wake, 1) == 1) waitForReport(*c);
    } else if (first == self) {
      // Ours again on this thread: a handler we passed on to calls back, or the report faulted.
      reentered = true;
    } else {
      waitForReport(*c);  // another thread's crash is being reported; this one ends the process after
    }
  }
  passOn(signal, info, context, reentered);
  errno = saved;
}

void* work(void* argument) {
  auto* c = static_cast<Capture*>(argument);
  c->worker = currentThread();
  for (;;) {
    char wake = 0;
    const ssize_t n = ::read(c->wake[0], &wake, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return nullptr;
    const CrashFacts facts = c->facts;
    CrashCapture::OnCrash onCrash;
    if (c->lock.try_lock_for(std::chrono::seconds(2))) {
      onCrash = c->onCrash;
      c->lock.unlock();
    }
    try {
      if (onCrash) onCrash(facts, {});
    } catch (...) {
    }
    const char done = 1;
    (void)::write(c->done[1], &done, 1);
  }
}

// The capture's thread, with every signal blocked: the process's signals go to its own threads.
void startWorker(Capture& c) {
  if (::pipe2(c.wake, O_CLOEXEC) != 0 || ::pipe2(c.done, O_CLOEXEC) != 0)
    posix::raisePathError(errno, "crash capture");
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  ::pthread_attr_setstacksize(&attributes, kWorkerStack);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  sigset_t all, before;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &before);
  pthread_t thread;
  const int failed = ::pthread_create(&thread, &attributes, work, &c);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ::pthread_attr_destroy(&attributes);
  if (failed != 0) posix::raisePathError(failed, "crash capture");
  while (c.worker.load() == 0) std::this_thread::yield();
}

bool ours(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == onSignal;
}

// A thread's alternate stack, for a handler to run when the thread's own stack overflowed; given
// back when the thread ends.
struct AlternateStack {
  void* memory = nullptr;
  size_t size = 0;
  ~AlternateStack() {
    if (memory == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(memory, size);
  }
};
thread_local AlternateStack alternateStack;

}  // namespace

void PosixCrashCapture::install(OnCrash onCrash) {
  static std::mutex made;
  Capture* c = nullptr;
  {
    const std::lock_guard once(made);
    c = capture.load();
    if (c == nullptr) {
      c = new Capture;
      startWorker(*c);
      capture.store(c, std::memory_order_release);
    }
  }
  prepareThread();
  const std::lock_guard held(c->lock);
  c->onCrash = std::move(onCrash);
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    if (ours(current)) continue;
    c->previous[signal] = current;
    ::sigaction(signal, &action, nullptr);
  }
  c->installed = true;
}

void PosixCrashCapture::remove() {
  Capture* c = capture.load();
  if (c == nullptr) return;
  const std::lock_guard held(c->lock);
  for (const int signal : kSignals) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    if (ours(current)) ::sigaction(signal, &c->previous[signal], nullptr);
  }
  c->installed = false;
}

bool PosixCrashCapture::installed() {
  const Capture* c = capture.load();
  return c != nullptr && c->installed;
}

void PosixCrashCapture::prepareThread() {
  if (alternateStack.memory != nullptr) return;
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;  // the thread has one
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t size = std::max(kAlternateStack, static_cast<size_t>(::sysconf(_SC_SIGSTKSZ))) + page;
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  ::mprotect(memory, page, PROT_NONE);  // an overflow of the handler itself faults, not corrupts
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(memory) + page;
  stack.ss_size = size - page;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(memory, size);
    return;
  }
  alternateStack.memory = memory;
  alternateStack.size = size;
}

uint64_t PosixCrashCapture::threadId() { return static_cast<uint64_t>(currentThread()); }

}  // namespace quenvar
