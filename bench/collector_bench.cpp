// The collector of the native library with its real parts (the user's outbox on disk, libcurl)
// against the HTTP peers of tests/servers/tls_peer.py on loopback, each figure against a floor
// measured in the same run:
//   - HandleError with a collector that answers, and with one that never answers, against
//     HandleError without a collector;
//   - draining 1,000 queued reports against Python's http.client posting the same envelope to
//     the same receiver over one kept-alive connection;
//   - HandleError with release-health sessions on against the same with them off, and a whole
//     process (the collector set, a handler made, the exit) with sessions on against off;
//   - with the argument "outage", in a process of its own so that nothing else moves its memory:
//     10,000 reports while the collector refuses connections, the outbox within its caps and the
//     growth of the process's memory.
// The peers' ports come from QUENVAR_BENCH_HTTP_200_PORT and QUENVAR_BENCH_HTTP_HANG_PORT (the
// outage needs neither). Prints a FIGURE line per target; exit status 1 when one is missed.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "alternate.h"
#include "client_stack.h"
#include "collector/dsn.h"
#include "collector/event.h"
#include "collector/hub.h"
#include "collector/outbox.h"
#include "figures.h"
#include "platform/platform.h"
#include "platform/posix/outbox_store_posix.h"
#include "quenvar/collector.h"
#include "quenvar/err_handler.h"

using namespace quenvar;

namespace {

std::string scratch;  // everything the bench writes: the outbox, settings, the logs

int portFrom(const char* variable) {
  const char* value = std::getenv(variable);
  return value == nullptr ? 0 : std::atoi(value);
}

std::string dsnFor(int port, int projectId) {
  return "http://benchkey@127.0.0.1:" + std::to_string(port) + "/" + std::to_string(projectId);
}

std::string outboxFolder(const std::string& dsn) {
  return scratch + "/state/quenvar/outbox/" + collector::outboxName(collector::parseDsn(dsn)->project());
}

// The handler's floor: the process's own platform, on which no collector is ever set.
Platform& withoutCollector() { return defaultPlatform(); }

// The same backends behind a hub of each row's own: a worker waiting on the collector that never
// answers must not hold up the next row's reports.
Platform& withCollector(int row) {
  static std::map<int, Platform> platforms;
  return platforms.try_emplace(row, defaultPlatform()).first->second;
}

// Where a handler writes its Error.log.
std::string logFolder(const std::string& name) {
  const std::string path = scratch + "/logs/" + name;
  std::filesystem::create_directories(path);
  return path;
}

void handle(clsErrHandler& h) {
  pushClientStack(h);
  benchmark::DoNotOptimize(h.HandleError("Subscript out of range", 9, 120, "Posting failed"));
}

std::map<std::string, std::string> notes;  // what each figure saw besides its ratio

// Handled errors first, untimed, so that the timed ones find the outbox as a long run does. The
// checks after the loop make sure the reports did go where they should.
void handleErrorVsWithout(benchmark::State& state, const char* label, const char* portVariable, int row,
                          bool answering) {
  const int port = portFrom(portVariable);
  if (port == 0) return state.SkipWithError("no receiver's port");
  Collector collector(withCollector(row));
  collector.Dsn(dsnFor(port, row));
  clsErrHandler subject(withCollector(row)), floor(withoutCollector());
  subject.Destination(logFolder(std::to_string(row)));
  floor.Destination(logFolder(std::to_string(row) + "-floor"));
  // The collector that answers takes each report as it comes: the outbox stays nearly empty. The
  // one that never answers holds the worker on its first report while the rest pile up: the
  // outbox is filled to its cap of 100 first, so that every timed report also drops the oldest,
  // as during any outage longer than 100 reports.
  for (int i = 0; i < (answering ? 20 : 100); ++i) handle(subject);
  const std::string warmedUp = collector.LastEventId();
  alternate(state, 1, [&] { handle(subject); }, [&] { handle(floor); });
  state.counters["pending"] = collector.Pending();
  if (warmedUp.empty() || collector.LastEventId() == warmedUp) return state.SkipWithError("the handler queued nothing");
  // Everything queued goes to the one that answers; the other's outbox stays at its cap.
  const int32_t left = answering ? collector.Flush(30000) : collector.Pending();
  notes[label] = "pending after " + std::string(answering ? "a flush " : "") + std::to_string(left) +
                 ", last error '" + collector.LastError() + "'";
  if (answering ? left != 0 : left != 100)
    state.SkipWithError(answering ? "the receiver did not take every report" : "the outbox is not at its cap");
}

void BM_HandleErrorAnsweredVsNoCollector(benchmark::State& state) {
  handleErrorVsWithout(state, "answered", "QUENVAR_BENCH_HTTP_200_PORT", 1, true);
}
void BM_HandleErrorHangingVsNoCollector(benchmark::State& state) {
  handleErrorVsWithout(state, "hanging", "QUENVAR_BENCH_HTTP_HANG_PORT", 2, false);
}

BENCHMARK(BM_HandleErrorAnsweredVsNoCollector);
BENCHMARK(BM_HandleErrorHangingVsNoCollector);

// The same collector that answers, with sessions on and off: each counted error rewrites the
// session's state in place.
void BM_HandleErrorSessionsOnVsOff(benchmark::State& state) {
  const int port = portFrom("QUENVAR_BENCH_HTTP_200_PORT");
  if (port == 0) return state.SkipWithError("no receiver's port");
  Collector on(withCollector(5)), off(withCollector(6));
  off.TrackSessions(false);
  for (Collector* c : {&on, &off}) {
    c->Release("Orders@2.0.15");
    c->Dsn(dsnFor(port, c == &on ? 5 : 6));
  }
  clsErrHandler subject(withCollector(5)), floor(withCollector(6));
  subject.Destination(logFolder("5"));
  floor.Destination(logFolder("6"));
  for (int i = 0; i < 20; ++i) handle(subject), handle(floor);
  alternate(state, 1, [&] { handle(subject); }, [&] { handle(floor); });
  const int32_t left = on.Flush(30000) + off.Flush(30000);
  const bool tracked = !std::filesystem::is_empty(outboxFolder(dsnFor(port, 5))) &&
                       std::none_of(std::filesystem::directory_iterator(outboxFolder(dsnFor(port, 6))),
                                    std::filesystem::directory_iterator(), [](const auto& entry) {
                                      return entry.path().filename().string().starts_with("session-");
                                    });
  if (left != 0 || !tracked) state.SkipWithError("the receiver did not take every report, or no session was kept");
}
BENCHMARK(BM_HandleErrorSessionsOnVsOff);

// A platform whose hub never starts its worker: the drain timed is Flush's alone, one sender on
// one connection, as the floor is. It refuses, as a process with no thread to spare does: work
// taken and never run would leave the hub waiting for a worker that does not exist.
class NoWorker : public ModuleInfo {
 public:
  std::string folder() override { return defaultPlatform().module->folder(); }
  std::string name() override { return defaultPlatform().module->name(); }
  void runDetached(std::function<void()>) override { throw std::system_error(EAGAIN, std::generic_category()); }
};

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The floor's time for `count` posts, as the Python program measured it; nothing when it failed.
std::optional<double> pythonDrain(const std::string& url, const std::string& auth, const std::string& envelopeFile,
                                  int count) {
  const char* python = std::getenv("QUENVAR_BENCH_PYTHON");
  const std::string command = std::string(python != nullptr ? python : "python3") + " " QUENVAR_DRAIN_FLOOR " '" +
                              url + "' '" + auth + "' '" + envelopeFile + "' " + std::to_string(count);
  FILE* out = ::popen(command.c_str(), "r");
  if (out == nullptr) return std::nullopt;
  char line[64] = "";
  const bool read = std::fgets(line, sizeof line, out) != nullptr;
  const int status = ::pclose(out);
  if (!read || status != 0) return std::nullopt;
  return std::atof(line);
}

// Draining 1,000 queued reports to the receiver that answers, against Python's http.client
// posting the same envelope to it: rounds taking turns, which goes first alternating; the median
// of the rounds' ratios, so that a round the machine took away from either side does not decide
// it. The outbox holds 100 reports when the handler queues; the 1,000 are queued
// through the outbox with a cap of 1,000 (the seam its unit tests use), each the envelope a
// HandleError made with an event id of its own.
std::optional<double> drainVsPython(int port) {
  constexpr int kReports = 1000, kRounds = 5;
  if (port == 0) return std::nullopt;
  static NoWorker noWorker;
  static Platform platform = defaultPlatform();
  platform.module = &noWorker;
  const std::string dsn = dsnFor(port, 3);
  Collector collector(platform);
  collector.Dsn(dsn);
  const collector::Dsn parsed = *collector::parseDsn(dsn);
  const std::string project = collector::outboxName(parsed.project());

  clsErrHandler h(platform);
  h.Destination(logFolder("3"));
  handle(h);
  PosixOutboxStore store;
  const auto queued = store.list(project);
  const auto claim = queued.size() == 1 ? store.claim(project, queued[0].name) : nullptr;
  if (!claim) return std::nullopt;
  const std::string made = claim->read(4 << 20);
  claim->remove();
  const std::string madeId = collector.LastEventId();
  const auto now = [] {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  };
  {
    std::ofstream(scratch + "/envelope", std::ios::binary) << *collector::withSentAt(made, now());
  }
  std::mt19937_64 random{std::random_device{}()};
  // Through the hub's own store, which syncs what it queued: the drain then meets durable reports,
  // as the worker's does, and the syncs are timed apart. The floor writes nothing.
  collector::Outbox outbox(*platform.outbox, project, now, [] { return 0.5; }, collector::Caps{kReports, 1ULL << 32, 30});

  double ours = 0, python = 0, synced = 0;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    const double oursBefore = ours, pythonBefore = python;
    for (int i = 0; i < kReports; ++i) {
      char id[33];
      std::snprintf(id, sizeof id, "%016llx%016llx", static_cast<unsigned long long>(random()),
                    static_cast<unsigned long long>(random()));
      std::string envelope = made;
      for (size_t at = 0; (at = envelope.find(madeId, at)) != std::string::npos; at += 32) envelope.replace(at, 32, id);
      outbox.add(id, envelope);
    }
    if (collector.Pending() != kReports) return std::nullopt;
    const auto s0 = std::chrono::steady_clock::now();
    platform.outbox->sync(project);
    synced += seconds(std::chrono::steady_clock::now() - s0);
    const auto ourDrain = [&]() -> bool {
      const auto t0 = std::chrono::steady_clock::now();
      const int32_t left = collector.Flush(120000);
      ours += seconds(std::chrono::steady_clock::now() - t0);
      if (left != 0 || !collector.LastError().empty()) {
        std::fprintf(stderr, "drain: %d left, %s\n", left, collector.LastError().c_str());
        return false;
      }
      return true;
    };
    const auto theirs = [&]() -> bool {
      const auto t = pythonDrain(parsed.envelopeUrl(), parsed.authHeader(collector::sdkVersion()),
                                 scratch + "/envelope", kReports);
      if (t) python += *t;
      return t.has_value();
    };
    if (!(round % 2 == 0 ? ourDrain() && theirs() : theirs() && ourDrain())) return std::nullopt;
    ratios.push_back((ours - oursBefore) / (python - pythonBefore));
  }
  std::sort(ratios.begin(), ratios.end());
  std::string each;
  for (const double r : ratios) each += " " + std::to_string(r).substr(0, 5);
  notes["drain"] = "ours " + std::to_string(ours / kRounds) + " s, python " + std::to_string(python / kRounds) +
                   " s per " + std::to_string(kReports) + " reports; the rounds' ratios" + each +
                   "; making them durable first, apart: " + std::to_string(synced / kRounds) + " s";
  return ratios.back();  // every round must meet the target
}

// The run "session-run on|off <port>" makes in a process of its own: the collector set with its
// release, one handler made, and the normal exit that ends the session.
int sessionRun(bool tracking, int port) {
  Collector collector;
  collector.TrackSessions(tracking);
  collector.Release("Orders@2.0.15");
  collector.Dsn(dsnFor(port, tracking ? 7 : 8));
  clsErrHandler h;
  h.Destination(logFolder(tracking ? "7" : "8"));
  std::exit(0);
}

// Whole processes with sessions on and off taking turns; the median of the pairs' ratios, and
// what sessions add to each process in milliseconds.
std::optional<double> processSessionsOnVsOff(int port) {
  constexpr int kPairs = 30;
  if (port == 0) return std::nullopt;
  const auto runOnce = [&](bool tracking) -> std::optional<double> {
    const std::string portText = std::to_string(port);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl("/proc/self/exe", "quenvar_collector_bench", "session-run", tracking ? "on" : "off", portText.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "session-run %s: status %d\n", tracking ? "on" : "off", status);
      return std::nullopt;
    }
    return seconds(std::chrono::steady_clock::now() - t0);
  };
  std::vector<double> ratios;
  double on = 0, off = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    const bool onFirst = pair % 2 == 0;
    const std::optional<double> first = runOnce(onFirst), second = runOnce(!onFirst);
    if (!first || !second) return std::nullopt;
    const double a = onFirst ? *first : *second, b = onFirst ? *second : *first;
    on += a;
    off += b;
    ratios.push_back(a / b);
  }
  std::sort(ratios.begin(), ratios.end());
  const auto sessionUpdates = [&](int project) {
    std::error_code none;  // a folder never made holds none
    return static_cast<size_t>(std::count_if(
        std::filesystem::directory_iterator(outboxFolder(dsnFor(port, project)), none),
        std::filesystem::directory_iterator(), [](const auto& entry) {
          return entry.path().extension() == ".report" && entry.path().filename().string().find("-session-") != std::string::npos;
        }));
  };
  // The last run with sessions ends its session where no later run sends it; none without.
  const size_t tracked = sessionUpdates(7), untracked = sessionUpdates(8);
  notes["process"] = "with sessions " + std::to_string(on / kPairs * 1000) + " ms, without " +
                     std::to_string(off / kPairs * 1000) + " ms a process (start, collector, handler, exit), " +
                     "the pairs' median ratio " + std::to_string(ratios[ratios.size() / 2]) + "; " +
                     std::to_string(tracked) + " session updates waiting with them, " + std::to_string(untracked) +
                     " without";
  if (tracked == 0 || untracked != 0) return std::nullopt;
  return ratios[ratios.size() / 2];
}

struct Figure {
  std::string name;
  double measured;
  double target;
  bool met;
};

int report(const std::vector<Figure>& figures) {
  for (const auto& [name, note] : notes) std::printf("%s: %s\n", name.c_str(), note.c_str());
  std::printf("\n");
  bool allMet = true;
  for (const Figure& f : figures) {
    allMet = allMet && f.met;
    std::printf("FIGURE %s %.3f %.2f %s\n", f.name.c_str(), f.measured, f.target, f.met ? "met" : "NOT-MET");
  }
  return allMet ? 0 : 1;
}

// User and system time of every thread of the process.
double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

// 10,000 reports while nothing listens at the collector's port (bound, not listening: refused).
int outage() {
  constexpr int kReports = 10000;
  const int refused = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  if (::bind(refused, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::getsockname(refused, reinterpret_cast<sockaddr*>(&at), &size) != 0)
    return 2;
  const std::string dsn = dsnFor(ntohs(at.sin_port), 4);
  Collector collector;
  collector.Dsn(dsn);
  clsErrHandler h;
  h.Destination(logFolder("4"));
  // One report and a failed send first: what the process loads once to send at all (libcurl,
  // its TLS library, the worker's arena) is not growth from the outage.
  handle(h);
  collector.Flush(2000);

  const long before = statusKb("VmRSS:");
  const double cpu0 = cpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kReports; ++i) handle(h);
  const double took = seconds(std::chrono::steady_clock::now() - t0), cpu = cpuSeconds() - cpu0;
  const long peak = statusKb("VmHWM:"), after = statusKb("VmRSS:");

  size_t reports = 0, others = 0;
  uintmax_t bytes = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(outboxFolder(dsn))) {
    if (!entry.is_regular_file()) continue;
    if (entry.path().extension() == ".report" && entry.path().parent_path() == outboxFolder(dsn)) {
      ++reports;
      bytes += entry.file_size();
    } else {
      ++others;
    }
  }
  notes["outage"] = std::to_string(kReports) + " reports in " + std::to_string(took) + " s, the process's CPU " +
                    std::to_string(cpu) + " s; VmRSS " +
                    std::to_string(before) + " -> " + std::to_string(after) + " kB, peak " + std::to_string(peak) +
                    " kB; outbox: " + std::to_string(reports) + " reports, " + std::to_string(bytes) + " bytes, " +
                    std::to_string(others) + " other files; last error '" + collector.LastError() + "'";
  // The growth to the peak, so that memory taken and given back within the run counts too.
  const double growthMb = static_cast<double>(peak - before) / 1024;
  const double mb = static_cast<double>(bytes) / (1 << 20);
  const bool queued = !collector.LastEventId().empty() && reports > 0 && before > 0;
  ::close(refused);
  return report({{"native_collector_outage_1e4_reports_outbox_files", static_cast<double>(reports), 100,
                  queued && reports <= 100},
                 {"native_collector_outage_1e4_reports_outbox_mb", mb, 20, queued && mb <= 20},
                 {"native_collector_outage_1e4_reports_rss_growth_mb", growthMb, 5, queued && growthMb < 5}});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "session-run") {
    // The parent's scratch folder, as its environment names it.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state == nullptr || !std::string_view(state).ends_with("/state")) return 2;
    scratch = std::string(state, std::strlen(state) - 6);
    return sessionRun(std::string(argv[2]) == "on", std::atoi(argv[3]));
  }
  // TMPDIR puts the outbox on another file system: what a file's creation costs is the file
  // system's, and this tells it apart from ours.
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/quenvar-collector-bench-XXXXXX";
  if (!::mkdtemp(folder.data())) return 2;
  scratch = folder;
  // The outbox and the consent setting in the scratch folder, and no collector but those set here.
  ::setenv("XDG_STATE_HOME", (scratch + "/state").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);
  for (const char* name : {"SENTRY_DSN", "SENTRY_RELEASE", "SENTRY_ENVIRONMENT"}) ::unsetenv(name);

  int status;
  if (argc > 1 && std::string(argv[1]) == "outage") {
    status = outage();
  } else {
    benchmark::Initialize(&argc, argv);
    Ratios ratios;
    benchmark::RunSpecifiedBenchmarks(&ratios);
    benchmark::Shutdown();
    const auto ratio = [&](const char* name) {
      const auto it = ratios.ratio.find(name);
      return it == ratios.ratio.end() ? std::nullopt : std::optional<double>(it->second);
    };
    const auto figure = [](const char* name, std::optional<double> measured, double target) {
      return Figure{name, measured.value_or(0), target, measured && *measured <= target};
    };
    const std::optional<double> drain = drainVsPython(portFrom("QUENVAR_BENCH_HTTP_200_PORT"));
    // A cost to be told, with no target: the process figure is a note, and a run that failed
    // (a child that did not end with 0), or sessions not as set, is a missed figure.
    const std::optional<double> process = processSessionsOnVsOff(portFrom("QUENVAR_BENCH_HTTP_200_PORT"));
    status = report({figure("native_handle_error_collector_answering_vs_none_x",
                            ratio("BM_HandleErrorAnsweredVsNoCollector"), 1.3),
                     figure("native_handle_error_collector_hanging_vs_none_x",
                            ratio("BM_HandleErrorHangingVsNoCollector"), 1.3),
                     figure("native_collector_drain_1000_vs_python_keepalive_x", drain, 1.5),
                     figure("native_handle_error_sessions_on_vs_off_x", ratio("BM_HandleErrorSessionsOnVsOff"), 1.05),
                     figure("native_session_process_runs_failed", process ? 0 : std::optional<double>(), 0)});
  }
  std::filesystem::remove_all(scratch);
  // The worker may still wait on the collector that never answers: the process does not.
  std::fflush(stdout);
  ::_exit(status);
}
