// HandleError through the DLL with its collector set, against HandleError with no collector, in
// one process: the HTTP peers of tests/servers/tls_peer.py on loopback, one answering 200 and
// one that takes the connection and never answers; their ports come from
// QUENVAR_BENCH_HTTP_200_PORT and QUENVAR_BENCH_HTTP_HANG_PORT. The collector is the process's
// own, so the two sides take turns by setting its Dsn between batches (outside the timing); which
// side goes first alternates, so drift falls on both alike.
// Then whole processes, this program started again, with sessions on and off taking turns: what
// a session's beginning and end add to a process's start and exit is told, with no target.
// Prints a FIGURE line per target; exit status 1 when one is missed, 2 when it could not run.

#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "quenvar.h"

using bench::figure;
using bench::seconds;

namespace {

constexpr double kTarget = 1.5;

int portFrom(const char* variable) {
  const char* value = std::getenv(variable);
  return value == nullptr ? 0 : std::atoi(value);
}

// The outbox folders of a project id of the bench's, whatever the port: each is named for the
// project's address, "..._<id>-<hash>".
std::vector<std::filesystem::path> outboxesOf(const wchar_t* project) {
  std::vector<std::filesystem::path> found;
  PWSTR known = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) return found;
  const std::filesystem::path outbox = std::filesystem::path(known) / L"Quenvar" / L"Outbox";
  CoTaskMemFree(known);
  std::error_code ignored;
  const std::wstring tail = L"_" + std::wstring(project);
  for (const auto& entry : std::filesystem::directory_iterator(outbox, ignored)) {
    const std::wstring name = entry.path().filename().wstring();
    const size_t dash = name.rfind(L'-');
    if (dash != std::wstring::npos && dash >= tail.size() && name.compare(dash - tail.size(), tail.size(), tail) == 0)
      found.push_back(entry.path());
  }
  return found;
}

// Those from an earlier run in this prefix: each run starts from an empty outbox.
void removeOutboxesOf(const wchar_t* project) {
  std::error_code ignored;
  for (const auto& folder : outboxesOf(project)) std::filesystem::remove_all(folder, ignored);
}

// The session updates waiting in a project's outbox.
size_t sessionUpdatesOf(const wchar_t* project) {
  size_t count = 0;
  std::error_code ignored;
  for (const auto& folder : outboxesOf(project))
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
      count += entry.path().extension() == L".report" &&
               entry.path().filename().wstring().find(L"-session-") != std::wstring::npos;
  return count;
}

struct Bstr {
  BSTR b;
  explicit Bstr(const std::wstring& s) : b(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  ~Bstr() { SysFreeString(b); }
  std::wstring text() const { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
};

_clsErrHandler* handlerWritingTo(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  _clsErrHandler* h = nullptr;
  if (FAILED(CoCreateInstance(CLSID_clsErrHandler, nullptr, CLSCTX_INPROC_SERVER, IID__clsErrHandler,
                              reinterpret_cast<void**>(&h))))
    return nullptr;
  Bstr path(folder.wstring());
  if (FAILED(h->put_Destination(path.b))) {
    h->Release();
    return nullptr;
  }
  return h;
}

// The stack a typical client has when it handles an error, as the native bench's: 20 procedures
// deep, 10 parameters; then the error.
void handle(_clsErrHandler* h) {
  LONG status = 0;
  for (int i = 1; i <= 20; ++i) {
    Bstr name(L"Procedure" + std::to_wstring(i));
    h->Push(&name.b, &status);
  }
  for (int i = 1; i <= 10; ++i) {
    Bstr name(L"Argument" + std::to_wstring(i)), type(L"Long");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = i * 1000;
    h->AddParam(&name.b, &type.b, &value);
  }
  Bstr description(L"Subscript out of range"), message(L"Posting failed");
  h->HandleError(description.b, 9, 120, &message.b, &status);
}

std::wstring lastEventId(_Collector* c) {
  BSTR id = nullptr;
  c->get_LastEventId(&id);
  const std::wstring text = id ? std::wstring(id, SysStringLen(id)) : std::wstring();
  SysFreeString(id);
  return text;
}

LONG pending(_Collector* c) {
  LONG n = -1;
  c->get_Pending(&n);
  return n;
}

// One row: the ratio, or 0 when the reports did not go where they should (a figure of 0 is missed).
double row(_Collector* c, const char* label, int port, const wchar_t* project, bool answering,
           const std::filesystem::path& logs) {
  if (port == 0) {
    std::printf("%s: no receiver's port\n", label);
    return 0;
  }
  removeOutboxesOf(project);
  Bstr dsn(L"http://benchkey@127.0.0.1:" + std::to_wstring(port) + L"/" + project), none(L"");
  _clsErrHandler* subject = handlerWritingTo(logs / (std::wstring(project) + L"-subject"));
  _clsErrHandler* floor = handlerWritingTo(logs / (std::wstring(project) + L"-floor"));
  if (!subject || !floor || FAILED(c->put_Dsn(dsn.b))) {
    std::printf("%s: the handlers or the collector could not be set up\n", label);
    return 0;
  }
  // As natively: the collector that answers takes each report as it comes; the one that never
  // answers holds the worker on its first report, the outbox filled to its cap of 100 first so
  // that every timed report also drops the oldest, as during any long outage.
  for (int i = 0; i < (answering ? 20 : 100); ++i) handle(subject);
  const std::wstring warmedUp = lastEventId(c);
  constexpr int kBatch = 10, kRounds = 150;
  double ours = 0, without = 0;
  const auto timed = [&](bool withCollector) {
    c->put_Dsn(withCollector ? dsn.b : none.b);
    _clsErrHandler* h = withCollector ? subject : floor;
    const double t0 = seconds();
    for (int i = 0; i < kBatch; ++i) handle(h);
    (withCollector ? ours : without) += seconds() - t0;
  };
  for (int round = 0; round < kRounds; ++round) {
    timed(round % 2 == 0);
    timed(round % 2 != 0);
  }
  c->put_Dsn(dsn.b);
  const bool queued = !warmedUp.empty() && lastEventId(c) != warmedUp;
  LONG left = pending(c);
  if (answering) c->Flush(30000, &left);
  BSTR error = nullptr;
  c->get_LastError(&error);
  const double n = static_cast<double>(kBatch) * kRounds;
  std::printf("%s: HandleError %.1f us with the collector, %.1f us without; pending %s%ld, last error '%ls'\n",
              label, ours / n * 1e6, without / n * 1e6, answering ? "after a flush " : "", static_cast<long>(left),
              error ? error : L"");
  SysFreeString(error);
  subject->Release();
  floor->Release();
  // Everything queued goes to the one that answers; the other's outbox stays at its cap.
  if (!queued || (answering ? left != 0 : left != 100)) {
    std::printf("%s: %s\n", label, !queued ? "the handler queued nothing"
                                  : answering ? "the receiver did not take every report"
                                              : "the outbox is not at its cap");
    return 0;
  }
  return ours / without;
}

// The run "session-run on|off <port>" makes in a process of its own: the collector set with its
// release, one handler made, and the normal exit, whose unloading ends the session.
int sessionRun(bool tracking, int port) {
  CoInitialize(nullptr);
  _Collector* c = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Collector, nullptr, CLSCTX_INPROC_SERVER, IID__Collector,
                              reinterpret_cast<void**>(&c))))
    return 2;
  Bstr release(L"Orders@2.0.15"), dsn(L"http://benchkey@127.0.0.1:" + std::to_wstring(port) + (tracking ? L"/73" : L"/74"));
  const bool set = SUCCEEDED(c->put_TrackSessions(tracking ? VARIANT_TRUE : VARIANT_FALSE)) &&
                   SUCCEEDED(c->put_Release(release.b)) && SUCCEEDED(c->put_Dsn(dsn.b));
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  _clsErrHandler* h = handlerWritingTo(std::filesystem::path(std::wstring(temp, length)) / L"quenvar-session-bench");
  if (h) h->Release();
  c->Release();
  CoUninitialize();
  return set && h ? 0 : 2;
}

// Whole processes with sessions on and off taking turns, what sessions add to each printed;
// false when a run failed or the sessions were not as set.
bool processSessionsOnVsOff(int port) {
  constexpr int kPairs = 20;
  if (port == 0) return false;
  removeOutboxesOf(L"73");
  removeOutboxesOf(L"74");
  wchar_t self[MAX_PATH + 1];
  GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  const auto runOnce = [&](bool tracking) {
    std::wstring command = L"\"" + std::wstring(self) + L"\" session-run " + (tracking ? L"on " : L"off ") +
                           std::to_wstring(port);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const double t0 = seconds();
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return -1.0;
    // A run that hangs is a failed one, not a bench that never ends.
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    const double took = seconds() - t0;
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0 ? took : -1.0;
  };
  double on = 0, off = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    const bool onFirst = pair % 2 == 0;
    const double first = runOnce(onFirst), second = runOnce(!onFirst);
    if (first < 0 || second < 0) {
      std::printf("process: a run failed\n");
      return false;
    }
    on += onFirst ? first : second;
    off += onFirst ? second : first;
  }
  // The last run with sessions ends its session where no later run sends it; none without.
  const size_t tracked = sessionUpdatesOf(L"73"), untracked = sessionUpdatesOf(L"74");
  std::printf("process: with sessions %.1f ms, without %.1f ms a process (start, collector, handler, exit); "
              "%zu session updates waiting with them, %zu without\n",
              on / kPairs * 1000, off / kPairs * 1000, tracked, untracked);
  return tracked > 0 && untracked == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "session-run") return sessionRun(std::string(argv[2]) == "on", std::atoi(argv[3]));
  CoInitialize(nullptr);
  _Collector* c = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Collector, nullptr, CLSCTX_INPROC_SERVER, IID__Collector,
                              reinterpret_cast<void**>(&c)))) {
    std::puts("the component is not registered");
    return 2;
  }
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  const std::filesystem::path logs =
      std::filesystem::path(std::wstring(temp, length)) / (L"quenvar-collector-bench-" + std::to_wstring(GetCurrentProcessId()));
  const double answered = row(c, "answered", portFrom("QUENVAR_BENCH_HTTP_200_PORT"), L"71", true, logs);
  const double hanging = row(c, "hanging", portFrom("QUENVAR_BENCH_HTTP_HANG_PORT"), L"72", false, logs);
  c->Release();
  // A cost to be told, with no target: a failed run, or sessions not as set, is a missed figure.
  const bool sessionsRan = processSessionsOnVsOff(portFrom("QUENVAR_BENCH_HTTP_200_PORT"));
  const bool met = figure("wine_handle_error_collector_answering_vs_none_x", answered, kTarget) &
                   figure("wine_handle_error_collector_hanging_vs_none_x", hanging, kTarget) &
                   figure("wine_session_process_runs_failed", sessionsRan ? 0 : 1, 0, true);
  std::error_code ignored;
  std::filesystem::remove_all(logs, ignored);
  std::fflush(stdout);
  // The worker may still wait on the collector that never answers: the process does not.
  ExitProcess(met ? 0 : 1);
}
