// Crash capture's costs, each against what the process would have without it:
//   - Push, AddParam and Pop on a handler with capture installed, against the same without;
//   - the time from a fault to the report being durable in the outbox, in processes that die of
//     it;
//   - the memory a process sets aside for capture.
// In a program of its own: capture is the process's, and its thread and a thread's alternate
// stack stay once made, so it must not be in the process that measures the other rows. The
// outbox and the settings are in a scratch folder (under TMPDIR, else /tmp). Prints a FIGURE
// line per target; exit status 1 when one is missed.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "quenvar/collector.h"
#include "quenvar/err_handler.h"

using namespace quenvar;

namespace {

std::string scratch;
std::map<std::string, std::string> notes;  // what each figure saw besides itself

// The collector's port: bound and not listening, so nothing could take a report even if one
// were sent. Crash reports wait for the next run anyway.
int refusingPort() {
  static const int port = [] {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&at), &size) != 0)
      std::abort();
    return static_cast<int>(ntohs(at.sin_port));  // the socket stays bound for the process's life
  }();
  return port;
}

std::string dsn() { return "http://benchkey@127.0.0.1:" + std::to_string(refusingPort()) + "/7"; }

double monotonicMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool hasAlternateStack() {
  stack_t current{};
  return ::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE);
}

// ---- Push, AddParam, Pop with capture installed and without ----

void pushAddPop(clsErrHandler& h, const std::string& name) {
  benchmark::DoNotOptimize(h.Push(name));
  h.AddParam("InvoiceId", "Long", Variant(int32_t{4711}));
  benchmark::DoNotOptimize(h.Pop());
}

// Two threads, each with a handler of its own, take turns. The subject made its handler with
// capture installed (so its thread has an alternate stack) and installs capture before each of
// its turns; the floor made its handler with capture removed and removes it before each of its
// turns. Neither is the main thread, so both allocate from an arena of their own alike, and both
// run on the same CPU, so neither gets the quieter core. The median of the turns' ratios ignores
// a turn the machine took away from either.
void BM_PushPopCaptureInstalledVsNot(benchmark::State& state) {
  constexpr int kBatch = 8192;
  enum : int { kController, kSubject, kFloor, kEnd };
  Collector collector;
  collector.Dsn(dsn());
  collector.CatchCrashes(false);
  const std::string name = "PostInvoice";
  std::atomic<int> turn{kController};
  std::vector<double> times[3];
  std::atomic<int> ready{0};
  bool prepared[3] = {}, asSet[3] = {true, true, true};  // capture as the turn's taker set it, every turn
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(std::max(0, ::sched_getcpu()), &one);

  const auto taker = [&](int mine, bool install) {
    ::sched_setaffinity(0, sizeof one, &one);
    collector.CatchCrashes(install);
    clsErrHandler h;
    prepared[mine] = hasAlternateStack();
    ready.fetch_add(1);
    ready.notify_all();
    for (;;) {
      int t;
      while ((t = turn.load(std::memory_order_acquire)) != mine && t != kEnd) turn.wait(t);
      if (t == kEnd) break;
      collector.CatchCrashes(install);
      asSet[mine] = asSet[mine] && collector.CatchCrashes() == install;
      const auto t0 = std::chrono::steady_clock::now();
      for (int i = 0; i < kBatch; ++i) pushAddPop(h, name);
      times[mine].push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count());
      turn.store(kController, std::memory_order_release);
      turn.notify_all();
    }
    collector.CatchCrashes(false);
  };
  std::thread floor(taker, kFloor, false);
  ready.wait(0);  // the floor's handler is made before capture is ever installed
  std::thread subject(taker, kSubject, true);
  ready.wait(1);
  const auto give = [&](int whom) {
    turn.store(whom, std::memory_order_release);
    turn.notify_all();
    for (int t; (t = turn.load(std::memory_order_acquire)) != kController;) turn.wait(t);
  };
  bool subjectFirst = true;
  for (auto _ : state) {
    give(subjectFirst ? kSubject : kFloor);
    give(subjectFirst ? kFloor : kSubject);
    subjectFirst = !subjectFirst;
  }
  turn.store(kEnd, std::memory_order_release);
  turn.notify_all();
  subject.join();
  floor.join();

  std::vector<double> ratios;
  for (size_t i = 0; i < times[kSubject].size(); ++i) ratios.push_back(times[kSubject][i] / times[kFloor][i]);
  const double subjectNs = median(times[kSubject]) / kBatch, floorNs = median(times[kFloor]) / kBatch;
  state.counters["subject_ns"] = subjectNs;
  state.counters["floor_ns"] = floorNs;
  state.counters["ratio"] = median(ratios);
  std::ostringstream note;
  note << "median per Push+AddParam+Pop: installed " << subjectNs << " ns, not " << floorNs << " ns over "
       << ratios.size() << " turns each; the turns' ratios: lowest "
       << (ratios.empty() ? 0 : *std::min_element(ratios.begin(), ratios.end())) << ", highest "
       << (ratios.empty() ? 0 : *std::max_element(ratios.begin(), ratios.end()));
  notes["installed_vs_not"] = note.str();
  if (!prepared[kSubject] || prepared[kFloor])
    return state.SkipWithError("the subject's thread has no alternate stack, or the floor's has one");
  if (!asSet[kSubject] || !asSet[kFloor])
    return state.SkipWithError("capture was not installed in every subject turn and removed in every floor turn");
}

BENCHMARK(BM_PushPopCaptureInstalledVsNot)->UseRealTime();

// ---- From the fault to the durable report, in a process that dies of it ----

// The child: capture installed, three procedures on the stack, the moment of the fault written
// to `fd` just before it.
int crashChild(int fd) {
  // A core file is written after our report and is the system's own time, not capture's.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  Collector collector;
  collector.Dsn(std::getenv("QUENVAR_BENCH_CRASH_DSN"));
  collector.CatchCrashes(true);
  clsErrHandler h;
  h.Push("PostInvoice");
  h.AddParam("InvoiceId", "Long", Variant(int32_t{4711}));
  h.Push("PostLines");
  h.Push("WriteLine");
  const double at = monotonicMs();
  if (::write(fd, &at, sizeof at) != sizeof at) return 2;
  *static_cast<volatile int*>(nullptr) = 1;
  return 3;
}

pid_t spawnSelf(const std::vector<std::string>& arguments, int passFd) {
  std::vector<char*> argv{const_cast<char*>("quenvar_crash_bench")};
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (passFd >= 0 && (passFd == 3 ? ::fcntl(3, F_SETFD, 0) : ::dup2(passFd, 3)) < 0) ::_exit(127);
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  return pid;
}

struct CrashRun {
  bool ok = false;
  std::string why;
  double toReport = 0, toCrashedState = 0, toDeath = 0;  // ms from the fault
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One child's crash. `outbox` is the project's folder, watched when given (the first run makes
// it). The parent notes, on its own monotonic clock, when the report is renamed into place, when
// the "crashed" state is (after the report and the folder were synced), and when the child is
// gone.
CrashRun crashOnce(const std::optional<std::filesystem::path>& outbox) {
  CrashRun run;
  int watch = -1;
  if (outbox) {
    for (const auto& entry : std::filesystem::directory_iterator(*outbox))
      if (entry.is_regular_file()) std::filesystem::remove(entry.path());
    watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || ::inotify_add_watch(watch, outbox->c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
      run.why = "no inotify watch";
      return run;
    }
  }
  int stamp[2];
  if (::pipe2(stamp, O_CLOEXEC) != 0) std::abort();
  const pid_t pid = spawnSelf({"crash-child"}, stamp[1]);
  ::close(stamp[1]);
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  double fault = 0, report = 0, crashedState = 0, death = 0;
  pollfd first{stamp[0], POLLIN, 0};
  const bool stamped = ::poll(&first, 1, 30000) == 1 && ::read(stamp[0], &fault, sizeof fault) == sizeof fault;
  ::close(stamp[0]);
  while (stamped && pidfd >= 0 && death == 0) {
    pollfd ready[2] = {{pidfd, POLLIN, 0}, {watch, POLLIN, 0}};
    if (::poll(ready, watch >= 0 ? 2 : 1, 30000) <= 0) break;
    const double now = monotonicMs();
    if (watch >= 0 && (ready[1].revents & POLLIN)) {
      alignas(inotify_event) char events[4096];
      const ssize_t n = ::read(watch, events, sizeof events);
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + at);
        const std::string name = e->len ? e->name : "";
        if ((e->mask & IN_MOVED_TO) && name.ends_with(".report") && report == 0) report = now;
        if ((e->mask & IN_MOVED_TO) && name == "crashed.state" && crashedState == 0) crashedState = now;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    if (ready[0].revents & POLLIN) death = now;
  }
  int status = 0;
  if (death == 0) ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  if (pidfd >= 0) ::close(pidfd);
  if (watch >= 0) ::close(watch);
  if (!stamped || death == 0) {
    run.why = "the child did not fault, or did not end within 30 s";
    return run;
  }
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGSEGV) {
    run.why = "the child did not die of SIGSEGV (status " + std::to_string(status) + ")";
    return run;
  }
  run.toDeath = death - fault;
  run.toReport = report - fault;
  run.toCrashedState = crashedState - fault;
  // The report is the crash's: it names the crashing thread's procedures, and the state names it.
  const std::filesystem::path root = scratch + "/crash-state/quenvar/outbox";
  for (const auto& project : std::filesystem::directory_iterator(root)) {
    const std::string crashed = readFile(project.path() / "crashed.state");
    std::string body;
    for (const auto& entry : std::filesystem::directory_iterator(project.path())) {
      const std::string name = entry.path().filename();
      if (!crashed.empty() && name.ends_with("-" + crashed + ".report")) body = readFile(entry.path());
    }
    for (const char* expected : {"SIGSEGV", "PostInvoice", "PostLines", "WriteLine", "4711"})
      if (body.find(expected) == std::string::npos) {
        run.why = std::string("the report does not say ") + expected;
        return run;
      }
    run.ok = !outbox || (report > 0 && crashedState > 0);
    if (!run.ok) run.why = "the outbox was not seen to change";
    return run;
  }
  run.why = "no outbox";
  return run;
}

// The median of 20 crashes from the fault to the child's end as the parent sees it: the crashing
// thread waits for the report's "done", given only after the report and the "crashed" state were
// synced, so the end bounds the report's durability from above. The moments the two files were
// renamed into place go in the note.
std::optional<double> crashToDurableReport() {
  constexpr int kRuns = 20;
  ::setenv("XDG_STATE_HOME", (scratch + "/crash-state").c_str(), 1);
  ::setenv("QUENVAR_BENCH_CRASH_DSN", dsn().c_str(), 1);
  // The first run, untimed, makes the outbox's folder for the others to watch and brings the
  // program and library into the page cache.
  const CrashRun warm = crashOnce(std::nullopt);
  if (!warm.ok) {
    notes["crash"] = "first run: " + warm.why;
    return std::nullopt;
  }
  const auto projects = std::filesystem::directory_iterator(scratch + "/crash-state/quenvar/outbox");
  const std::filesystem::path outbox = begin(projects)->path();
  std::vector<double> toDeath, toReport, toCrashedState;
  for (int i = 0; i < kRuns; ++i) {
    const CrashRun run = crashOnce(outbox);
    if (!run.ok) {
      notes["crash"] = "run " + std::to_string(i + 1) + ": " + run.why;
      return std::nullopt;
    }
    toDeath.push_back(run.toDeath);
    toReport.push_back(run.toReport);
    toCrashedState.push_back(run.toCrashedState);
  }
  std::ostringstream note;
  note << kRuns << " crashes, medians from the fault: report renamed in " << median(toReport)
       << " ms, crashed state renamed in (report durable) " << median(toCrashedState) << " ms, child ended "
       << median(toDeath) << " ms (lowest " << *std::min_element(toDeath.begin(), toDeath.end()) << ", highest "
       << *std::max_element(toDeath.begin(), toDeath.end()) << ")";
  notes["crash"] = note.str();
  return median(toDeath);
}

// ---- The memory capture sets aside ----

// In a fresh process: the library's own start-up first (the collector set, a handler made and
// gone, a procedure pushed), which a process has without capture too; then what installing
// capture and making one handler under it add. Prints the growth of VmSize and VmRSS in kB.
int reserveChild() {
  Collector collector;
  collector.Dsn(std::getenv("QUENVAR_BENCH_CRASH_DSN"));
  {
    clsErrHandler warm;
    warm.Push("PostInvoice");
    warm.AddParam("InvoiceId", "Long", Variant(int32_t{4711}));
    warm.Pop();
  }
  // Setting the collector wakes its sending worker, which starts the HTTP library and takes an
  // allocator arena of its own: the collector's, not capture's. It ends when it found nothing to
  // send.
  for (int i = 0; i < 1000 && statusKb("Threads:") != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (statusKb("Threads:") != 1) return 3;
  const long size0 = statusKb("VmSize:"), rss0 = statusKb("VmRSS:");
  collector.CatchCrashes(true);
  clsErrHandler h;
  h.Push("PostInvoice");
  h.AddParam("InvoiceId", "Long", Variant(int32_t{4711}));
  const long size1 = statusKb("VmSize:"), rss1 = statusKb("VmRSS:");
  std::printf("%ld %ld %ld\n", size1 - size0, rss1 - rss0, statusKb("Threads:"));
  collector.CatchCrashes(false);
  return size0 > 0 && rss0 > 0 ? 0 : 2;
}

// The growth of the address space is reported, not of the resident set: the capture thread's
// stack (256 KB and its guard page) and the alternate stack (64 KB and a guard page) are
// reserved whole and touched only by a crash, so VmSize counts all of them and VmRSS the few
// pages touched so far. Neither counts the kernel's part (the thread's kernel stack, the two
// pipes). The largest of three processes.
std::optional<double> reservedKb() {
  ::setenv("XDG_STATE_HOME", (scratch + "/reserve-state").c_str(), 1);
  ::setenv("QUENVAR_BENCH_CRASH_DSN", dsn().c_str(), 1);
  long mostSize = -1, mostRss = -1;
  for (int i = 0; i < 3; ++i) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::execl("/proc/self/exe", "quenvar_crash_bench", "reserve-child", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    char line[64] = "";
    const ssize_t n = ::read(out[0], line, sizeof line - 1);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    long size = -1, rss = -1, threads = -1;
    if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(line, "%ld %ld %ld", &size, &rss, &threads) != 3) {
      notes["reserved"] = "the measuring process failed (status " + std::to_string(status) + ")";
      return std::nullopt;
    }
    if (threads != 2) {
      notes["reserved"] = std::to_string(threads) + " threads with capture installed, not the main one and capture's";
      return std::nullopt;
    }
    mostSize = std::max(mostSize, size);
    mostRss = std::max(mostRss, rss);
  }
  notes["reserved"] = "capture installed and one handler made, the largest growth of three processes: VmSize " +
                      std::to_string(mostSize) + " kB, VmRSS " + std::to_string(mostRss) + " kB";
  return static_cast<double>(std::max(mostSize, mostRss));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "crash-child") return crashChild(3);
  if (argc > 1 && std::string(argv[1]) == "reserve-child") return reserveChild();

  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/quenvar-crash-bench-XXXXXX";
  if (!::mkdtemp(folder.data())) return 2;
  scratch = folder;
  ::setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);
  for (const char* name : {"SENTRY_DSN", "SENTRY_RELEASE", "SENTRY_ENVIRONMENT"}) ::unsetenv(name);

  // The children first, from a process with no thread of the library's yet.
  const std::optional<double> crashMs = crashToDurableReport();
  const std::optional<double> reserved = reservedKb();

  ::setenv("XDG_STATE_HOME", (scratch + "/bench-state").c_str(), 1);
  benchmark::Initialize(&argc, argv);
  Ratios ratios;
  benchmark::RunSpecifiedBenchmarks(&ratios);
  benchmark::Shutdown();
  const auto ratio = ratios.ratio.find("BM_PushPopCaptureInstalledVsNot/real_time");
  const std::optional<double> installed =
      ratio == ratios.ratio.end() ? std::nullopt : std::optional<double>(ratio->second);

  struct Figure {
    const char* name;
    std::optional<double> measured;
    double target;
  };
  // A second to die after a fault: the user sees the program go as it would have without
  // capture, not hang; the crashing thread gives up on its report after ten.
  const Figure figures[] = {
      {"native_push_pop_capture_installed_vs_not_x", installed, 1.02},
      {"native_crash_to_durable_report_ms", crashMs, 1000},
      {"native_crash_capture_reserved_kb", reserved, 1024},
  };
  for (const auto& [name, note] : notes) std::printf("%s: %s\n", name.c_str(), note.c_str());
  std::printf("\n");
  bool allMet = true;
  for (const Figure& f : figures) {
    const bool met = f.measured && *f.measured > 0 && *f.measured <= f.target;
    allMet = allMet && met;
    std::printf("FIGURE %s %.3f %.2f %s\n", f.name, f.measured.value_or(0), f.target, met ? "met" : "NOT-MET");
  }
  std::filesystem::remove_all(scratch);
  std::fflush(stdout);
  // The library's threads (the collector's worker, capture's) are not waited for.
  ::_exit(allMet ? 0 : 1);
}
