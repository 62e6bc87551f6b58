#include "platform/win32/crash_capture_win32.h"

#include "platform/win32/windows_api.h"

#include <dbghelp.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/crash_text.h"
#include "platform/win32/win32_errors.h"

namespace quenvar {

namespace {

// The crashing thread waits while the capture moves: ten seconds without a step end the wait,
// as does a minute in all. Wine writes a 64-bit process's dump slowly but steadily (the
// unwind data of every function of every module, a server call each): 7 s on a quiet machine.
constexpr DWORD kStalledMs = 10000, kLongestWaitMs = 60000, kLookMs = 200;
constexpr SIZE_T kWorkerStack = 256 * 1024;
// What a thread keeps of its stack for the filter after an overflow.
constexpr ULONG kStackGuarantee = 64 * 1024;
// A dump beyond this is not even read; the report goes without one the outbox cannot take.
constexpr LONGLONG kLargestMinidump = 16 << 20;
constexpr DWORD kStatusFatalAppExit = 0x40000015, kStatusInvalidParameter = 0xC0000417,
                kStatusPureCall = 0xC0000025;  // the codes a dump's record carries for the runtimes' ends

using WriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
using GetSymOptions = DWORD(WINAPI*)();
using SetSymOptions = DWORD(WINAPI*)(DWORD);
using SignalHandler = void(__cdecl*)(int);
using SetSignal = SignalHandler(__cdecl*)(int, SignalHandler);
using PureCallHandler = void(__cdecl*)();
using SetPureCall = PureCallHandler(__cdecl*)(PureCallHandler);
using InvalidParameterHandler = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t);
using SetInvalidParameter = InvalidParameterHandler(__cdecl*)(InvalidParameterHandler);
constexpr int kSigAbrt = 22;
const SignalHandler kSigDfl = nullptr, kSigIgn = reinterpret_cast<SignalHandler>(1);

// A C runtime of the process and what its handlers were before ours.
struct Runtime {
  const wchar_t* name;
  HMODULE module = nullptr;
  SetSignal setSignal = nullptr;
  SetPureCall setPureCall = nullptr;
  SetInvalidParameter setInvalidParameter = nullptr;
  SignalHandler abort = nullptr;
  PureCallHandler pureCall = nullptr;
  InvalidParameterHandler invalidParameter = nullptr;
};

// Made at the first install and never destroyed: a crash may come while the process ends.
struct Capture {
  std::timed_mutex lock;  // install and remove, and the capture's thread reading onCrash
  CrashCapture::OnCrash onCrash;
  std::atomic<bool> installed{false};
  HANDLE wake = nullptr, done = nullptr;
  DWORD worker = 0;
  WriteDump writeDump = nullptr;
  GetSymOptions getSymOptions = nullptr;
  SetSymOptions setSymOptions = nullptr;
  HMODULE pinned = nullptr;
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
  Runtime runtimes[2] = {{L"msvcrt.dll"}, {L"ucrtbase.dll"}};
  std::atomic<DWORD> crashing{0};
  // The capture's progress as the waiting thread sees it: steps, and the dump file dbghelp grows
  // without calling back (by name: its handle is the capture thread's to close).
  std::atomic<unsigned> steps{0};
  std::atomic<bool> dumping{false};
  wchar_t dumpPath[MAX_PATH + 64] = {};
  std::atomic<int> filterEntries{0};
  void* vectored = nullptr;
  // The crashing thread's, written by it alone once it won `crashing`.
  CrashFacts facts;
  EXCEPTION_POINTERS* pointers = nullptr;
  CONTEXT context{};
  EXCEPTION_RECORD record{};
  EXCEPTION_POINTERS made{};
};
std::atomic<Capture*> capture{nullptr};

struct Named {
  DWORD code;
  const char* type;
  const char* words;
};
constexpr Named kExceptions[] = {
    {EXCEPTION_ACCESS_VIOLATION, "EXCEPTION_ACCESS_VIOLATION", "Access violation"},
    {EXCEPTION_STACK_OVERFLOW, "EXCEPTION_STACK_OVERFLOW", "Stack overflow"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "EXCEPTION_ILLEGAL_INSTRUCTION", "Illegal instruction"},
    {EXCEPTION_PRIV_INSTRUCTION, "EXCEPTION_PRIV_INSTRUCTION", "Privileged instruction"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "EXCEPTION_INT_DIVIDE_BY_ZERO", "Integer divide by zero"},
    {EXCEPTION_INT_OVERFLOW, "EXCEPTION_INT_OVERFLOW", "Integer overflow"},
    {EXCEPTION_IN_PAGE_ERROR, "EXCEPTION_IN_PAGE_ERROR", "In-page error"},
    {EXCEPTION_DATATYPE_MISALIGNMENT, "EXCEPTION_DATATYPE_MISALIGNMENT", "Misaligned data"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED", "Array bounds exceeded"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, "EXCEPTION_FLT_DIVIDE_BY_ZERO", "Floating-point divide by zero"},
    {EXCEPTION_FLT_INVALID_OPERATION, "EXCEPTION_FLT_INVALID_OPERATION", "Invalid floating-point operation"},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, "EXCEPTION_NONCONTINUABLE_EXCEPTION", "Noncontinuable exception"},
};
constexpr int kAddressDigits = 2 * sizeof(void*);

void describeException(CrashFacts& facts, const EXCEPTION_RECORD& record) {
  const Named* named = nullptr;
  for (const Named& n : kExceptions)
    if (n.code == record.ExceptionCode) named = &n;
  CrashText type(facts.type, sizeof facts.type), value(facts.value, sizeof facts.value);
  if (named != nullptr) type << named->type;
  else (type << "EXCEPTION_CODE_0x").number(record.ExceptionCode, 16, 8, true);
  value << (named != nullptr ? named->words : "Unhandled exception");
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
    const ULONG_PTR how = record.ExceptionInformation[0];
    value << (how == 0 ? " reading" : how == 8 ? " executing" : " writing") << " address 0x";
    value.number(record.ExceptionInformation[1], 16, kAddressDigits, true);
  } else {
    value << " at address 0x";
    value.number(reinterpret_cast<uintptr_t>(record.ExceptionAddress), 16, kAddressDigits, true);
  }
  value << " (code 0x";
  value.number(record.ExceptionCode, 16, 8, true) << ")";
  CrashText(facts.mechanism, sizeof facts.mechanism) << "UnhandledExceptionFilter";
  facts.code = record.ExceptionCode;
  facts.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
}

// A runtime's end has no exception of its own: the dump gets the thread's context here.
void describeRuntimeEnd(Capture& c, const char* type, const char* words, const char* mechanism, DWORD code) {
  CrashText(c.facts.type, sizeof c.facts.type) << type;
  CrashText(c.facts.value, sizeof c.facts.value) << words;
  CrashText(c.facts.mechanism, sizeof c.facts.mechanism) << mechanism;
  c.facts.code = code;
  ::RtlCaptureContext(&c.context);
  c.record = EXCEPTION_RECORD{};
  c.record.ExceptionCode = code;
#if defined(_M_X64) || defined(__x86_64__)
  c.record.ExceptionAddress = reinterpret_cast<void*>(c.context.Rip);
#else
  c.record.ExceptionAddress = reinterpret_cast<void*>(c.context.Eip);
#endif
  c.facts.address = reinterpret_cast<uintptr_t>(c.record.ExceptionAddress);
  c.made = {&c.record, &c.context};
  c.pointers = &c.made;
}

struct Progress {
  unsigned steps;
  ULONGLONG dumped;
  bool operator==(const Progress&) const = default;
};

Progress progress(Capture& c) {
  Progress seen{c.steps.load(), 0};
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (c.dumping.load() && ::GetFileAttributesExW(c.dumpPath, GetFileExInfoStandard, &data))
    seen.dumped = ULONGLONG{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  return seen;
}

void awaitReport(Capture& c) {
  const ULONGLONG start = ::GetTickCount64();
  ULONGLONG moved = start;
  Progress last = progress(c);
  while (::WaitForSingleObject(c.done, kLookMs) == WAIT_TIMEOUT) {
    const ULONGLONG now = ::GetTickCount64();
    if (const Progress seen = progress(c); seen != last) {
      last = seen;
      moved = now;
    }
    if (now - moved >= kStalledMs || now - start >= kLongestWaitMs) return;
  }
}

// Hands the crash over and waits for the report. False when this thread must not go on to
// what was there before: the report itself faulted, or what we passed on to called us again.
template <class Describe>
bool handOver(Capture& c, Describe describe) {
  const DWORD self = ::GetCurrentThreadId();
  if (self == c.worker) return false;
  DWORD first = 0;
  if (c.crashing.compare_exchange_strong(first, self)) {
    describe(c);
    c.facts.thread = self;
    ::SetEvent(c.wake);
    awaitReport(c);
    return true;
  }
  if (first == self) return false;
  awaitReport(c);  // another thread's crash is being reported
  return true;
}

void describe(Capture& held, EXCEPTION_POINTERS* pointers) {
  describeException(held.facts, *pointers->ExceptionRecord);
  held.pointers = pointers;
}

LONG WINAPI onException(EXCEPTION_POINTERS* pointers) {
  Capture* c = capture.load();
  if (c == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  // Reported already when the stack overflowed; a filter we passed on to that calls us again
  // is not called a second time.
  const bool reported = c->crashing.load() == ::GetCurrentThreadId();
  const bool passOn = (reported && c->filterEntries++ == 0) ||
                      (!reported && handOver(*c, [&](Capture& held) { describe(held, pointers); }) &&
                       c->filterEntries++ == 0);
  return passOn && c->previousFilter != nullptr ? c->previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

// An overflowed stack is reported before the frames' handlers run: dispatching to them may
// overflow it again (Wine has no stack guarantee), and the filter would never come.
LONG WINAPI onStackOverflow(EXCEPTION_POINTERS* pointers) {
  Capture* c = capture.load();
  if (c != nullptr && c->installed && pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
    handOver(*c, [&](Capture& held) { describe(held, pointers); });
  return EXCEPTION_CONTINUE_SEARCH;
}

// Each runtime's handler finds its own runtime's previous one.
template <int R>
void __cdecl onAbort(int signal) {
  Capture* c = capture.load();
  if (c == nullptr) return;
  const bool passOn = handOver(*c, [](Capture& held) {
    describeRuntimeEnd(held, "SIGABRT", "abort() called", "abort", kStatusFatalAppExit);
  });
  const SignalHandler previous = c->runtimes[R].abort;
  if (passOn && previous != kSigDfl && previous != kSigIgn) previous(signal);
}

template <int R>
void __cdecl onPureCall() {
  Capture* c = capture.load();
  if (c == nullptr) return;
  const bool passOn = handOver(*c, [](Capture& held) {
    describeRuntimeEnd(held, "PURE_VIRTUAL_CALL", "Pure virtual function call", "purecall", kStatusPureCall);
  });
  if (passOn && c->runtimes[R].pureCall != nullptr) c->runtimes[R].pureCall();
  // Returning, the runtime aborts, as it does after any handler.
}

template <int R>
void __cdecl onInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                unsigned line, uintptr_t reserved) {
  Capture* c = capture.load();
  if (c == nullptr) return;
  const bool passOn = handOver(*c, [](Capture& held) {
    describeRuntimeEnd(held, "INVALID_PARAMETER", "Invalid parameter passed to a C runtime function",
                       "invalid_parameter", kStatusInvalidParameter);
  });
  const Runtime& runtime = c->runtimes[R];
  if (passOn && runtime.invalidParameter != nullptr) return runtime.invalidParameter(expression, function, file, line, reserved);
  // With no handler, the end the runtime's own _invoke_watson makes (Wine's ucrtbase has none, and
  // its stub would end the process otherwise): a fast fail where the processor offers it, else
  // the runtime's status. A handler that returned would let the call fail with EINVAL and the
  // program go on.
  if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) asm volatile("int $0x29" : : "c"(FAST_FAIL_INVALID_ARG));
  ::TerminateProcess(::GetCurrentProcess(), kStatusInvalidParameter);
}

constexpr SignalHandler kAbortHandlers[] = {onAbort<0>, onAbort<1>};
constexpr PureCallHandler kPureCallHandlers[] = {onPureCall<0>, onPureCall<1>};
constexpr InvalidParameterHandler kInvalidParameterHandlers[] = {onInvalidParameter<0>, onInvalidParameter<1>};

// Each thread and module dbghelp meets is a step; it writes all it would without us.
BOOL CALLBACK onDumpStep(void* held, PMINIDUMP_CALLBACK_INPUT input, PMINIDUMP_CALLBACK_OUTPUT) {
  static_cast<Capture*>(held)->steps++;
  switch (input->CallbackType) {
    case IncludeThreadCallback:
    case IncludeModuleCallback:
    case ThreadCallback:
    case ThreadExCallback:
    case ModuleCallback:
      return TRUE;
    default:
      return FALSE;
  }
}

// The dump of the process as the crashing thread left it: threads, their stacks and contexts,
// modules and the exception; no heap. Through a file of the user's own, gone when closed.
std::string minidump(Capture& c) {
  if (c.writeDump == nullptr) return {};
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return {};
  std::wstring path = std::wstring(folder, length) + L"quenvar-crash-" + std::to_wstring(::GetCurrentProcessId()) +
                      L"-" + std::to_wstring(::GetTickCount64()) + L".dmp";
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  path.copy(c.dumpPath, std::size(c.dumpPath) - 1);
  c.dumping = true;
  // A dump needs no symbols, but Wine's dbghelp loads every module's when it first sees the
  // process, most of its seconds before it writes a byte. The process is ending: whose options
  // these were no longer matters.
  if (c.getSymOptions != nullptr && c.setSymOptions != nullptr)
    c.setSymOptions(c.getSymOptions() | SYMOPT_DEFERRED_LOADS);
  MINIDUMP_EXCEPTION_INFORMATION exception{c.facts.thread ? static_cast<DWORD>(c.facts.thread) : 0, c.pointers, FALSE};
  MINIDUMP_CALLBACK_INFORMATION callback{onDumpStep, &c};
  std::string bytes;
  LARGE_INTEGER size{};
  if (c.writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal,
                  c.pointers != nullptr ? &exception : nullptr, nullptr, &callback) &&
      ::GetFileSizeEx(file, &size) && size.QuadPart <= kLargestMinidump &&
      ::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
      bytes.clear();
  }
  ::CloseHandle(file);
  return bytes;
}

DWORD WINAPI work(void* argument) {
  auto* c = static_cast<Capture*>(argument);
  {
    ::WaitForSingleObject(c->wake, INFINITE);
    CrashCapture::OnCrash onCrash;
    if (c->lock.try_lock_for(std::chrono::seconds(2))) {
      onCrash = c->onCrash;
      c->lock.unlock();
    }
    // The report first, the dump after: a dump can take seconds on a busy machine, and one the
    // wait does not see finish must not cost the report.
    try {
      c->steps++;
      if (onCrash) onCrash(c->facts, {});
      c->steps++;
      if (const std::string dump = minidump(*c); onCrash && !dump.empty()) onCrash(c->facts, dump);
    } catch (...) {
    }
    ::SetEvent(c->done);
    // One crash per process: a thread of ours left waiting would keep alive a process whose
    // crashing thread alone was ended (Wine ends only the thread for an overflowed stack).
    return 0;
  }
}

template <class T>
T entry(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

Capture& made() {
  static std::mutex making;
  const std::lock_guard held(making);
  if (Capture* c = capture.load()) return *c;
  auto* c = new Capture;
  c->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  c->done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Loaded now: loading a module while the process dies could wait on the loader's lock.
  if (const HMODULE dbghelp = ::LoadLibraryW(L"dbghelp.dll")) {
    c->writeDump = entry<WriteDump>(dbghelp, "MiniDumpWriteDump");
    c->getSymOptions = entry<GetSymOptions>(dbghelp, "SymGetOptions");
    c->setSymOptions = entry<SetSymOptions>(dbghelp, "SymSetOptions");
  }
  const HANDLE thread = c->wake && c->done ? ::CreateThread(nullptr, kWorkerStack, work, c,
                                                            STACK_SIZE_PARAM_IS_A_RESERVATION, &c->worker)
                                          : nullptr;
  if (thread == nullptr) win32::raisePathError(::GetLastError(), "crash capture");
  ::CloseHandle(thread);
  capture.store(c);
  return *c;
}

}  // namespace

void Win32CrashCapture::install(OnCrash onCrash) {
  Capture& c = made();
  prepareThread();
  const std::lock_guard held(c.lock);
  c.onCrash = std::move(onCrash);
  if (c.pinned == nullptr)
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&onException), &c.pinned);
  if (const auto current = ::SetUnhandledExceptionFilter(onException); current != onException)
    c.previousFilter = current;
  if (c.vectored == nullptr) c.vectored = ::AddVectoredExceptionHandler(1, onStackOverflow);
  for (int r = 0; r < 2; ++r) {
    Runtime& runtime = c.runtimes[r];
    runtime.module = ::GetModuleHandleW(runtime.name);
    if (runtime.module == nullptr) continue;
    runtime.setSignal = entry<SetSignal>(runtime.module, "signal");
    runtime.setPureCall = entry<SetPureCall>(runtime.module, "_set_purecall_handler");
    runtime.setInvalidParameter = entry<SetInvalidParameter>(runtime.module, "_set_invalid_parameter_handler");
    if (runtime.setSignal)
      if (const SignalHandler was = runtime.setSignal(kSigAbrt, kAbortHandlers[r]); was != kAbortHandlers[r])
        runtime.abort = was;
    if (runtime.setPureCall)
      if (const PureCallHandler was = runtime.setPureCall(kPureCallHandlers[r]); was != kPureCallHandlers[r])
        runtime.pureCall = was;
    if (runtime.setInvalidParameter)
      if (const auto was = runtime.setInvalidParameter(kInvalidParameterHandlers[r]);
          was != kInvalidParameterHandlers[r])
        runtime.invalidParameter = was;
  }
  c.installed = true;
}

// What another put in our place since stays: each setter is undone when it replaced not ours.
void Win32CrashCapture::remove() {
  Capture* c = capture.load();
  if (c == nullptr) return;
  const std::lock_guard held(c->lock);
  if (!c->installed) return;
  if (const auto current = ::SetUnhandledExceptionFilter(c->previousFilter); current != onException)
    ::SetUnhandledExceptionFilter(current);
  for (int r = 0; r < 2; ++r) {
    const Runtime& runtime = c->runtimes[r];
    if (runtime.module == nullptr) continue;
    if (runtime.setSignal)
      if (const SignalHandler was = runtime.setSignal(kSigAbrt, runtime.abort); was != kAbortHandlers[r])
        runtime.setSignal(kSigAbrt, was);
    if (runtime.setPureCall)
      if (const PureCallHandler was = runtime.setPureCall(runtime.pureCall); was != kPureCallHandlers[r])
        runtime.setPureCall(was);
    if (runtime.setInvalidParameter)
      if (const auto was = runtime.setInvalidParameter(runtime.invalidParameter); was != kInvalidParameterHandlers[r])
        runtime.setInvalidParameter(was);
  }
  if (c->vectored != nullptr) ::RemoveVectoredExceptionHandler(c->vectored);
  c->vectored = nullptr;
  c->installed = false;
  if (c->pinned != nullptr) ::FreeLibrary(c->pinned);
  c->pinned = nullptr;
}

bool Win32CrashCapture::installed() {
  const Capture* c = capture.load();
  return c != nullptr && c->installed;
}

void Win32CrashCapture::prepareThread() {
  ULONG guarantee = kStackGuarantee;
  ::SetThreadStackGuarantee(&guarantee);
}

uint64_t Win32CrashCapture::threadId() { return ::GetCurrentThreadId(); }

}  // namespace quenvar
