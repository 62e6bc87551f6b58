// The handler's hot paths against floors measured in the same run; prints a FIGURE line per
// target. Exit status 1 when a target is missed.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "alternate.h"
#include "client_stack.h"
#include "quenvar/err_handler.h"

using namespace quenvar;

namespace {

std::string scratchFolder() {
  static std::string folder = [] {
    char tmpl[] = "/tmp/quenvar-bench-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    return std::string(tmpl);
  }();
  return folder;
}

void appendBytes(const std::string& path, const std::string& bytes, int flags) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  ::close(fd);
}

// The floor of a stack of names: a vector of strings taking the same name and giving it back.
void BM_PushPopVsVector(benchmark::State& state) {
  clsErrHandler h;
  const std::string name = "PostInvoice";
  std::vector<std::string> names;
  names.reserve(64);
  alternate(
      state, 256,
      [&] {
        benchmark::DoNotOptimize(h.Push(name));
        benchmark::DoNotOptimize(h.Pop());
      },
      [&] {
        names.push_back(name);
        benchmark::DoNotOptimize(names.back().data());
        names.pop_back();
        benchmark::ClobberMemory();
      });
}

// Depth 10^6 against depth 10, side by side: each stack belongs to a thread of its own (the
// parameter lists are the thread's), and the two threads take turns, one batch each.
void BM_PushPopDeepVsShallow(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  constexpr int kBatch = 4096;
  const std::string name = "PostInvoice";
  const auto pushPops = [&](clsErrHandler& h) {
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(h.Push(name));
      benchmark::DoNotOptimize(h.Pop());
    }
  };
  std::atomic<int> turn{0};  // 0: the shallow thread's, 1: the deep one's, 2: the end
  std::atomic<bool> deepReady{false};
  std::vector<double> deepTimes, shallowTimes;  // per turn; the median ratio of turns ignores a
                                                // turn the machine took away from either
  std::thread deep([&] {
    clsErrHandler h;
    for (int i = 0; i < 1000000; ++i) h.Push(name);
    deepReady = true;
    for (;;) {
      int t;
      while ((t = turn.load(std::memory_order_acquire)) == 0) {
      }
      if (t == 2) break;
      const auto t0 = Clock::now();
      pushPops(h);
      deepTimes.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
      turn.store(0, std::memory_order_release);
    }
    while (h.StackDepth() > 0) h.Pop();
  });
  while (!deepReady) std::this_thread::yield();
  clsErrHandler h;
  for (int i = 0; i < 10; ++i) h.Push(name);
  for (auto _ : state) {
    const auto t0 = Clock::now();
    pushPops(h);
    shallowTimes.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    turn.store(1, std::memory_order_release);
    while (turn.load(std::memory_order_acquire) != 0) {
    }
  }
  turn.store(2, std::memory_order_release);
  deep.join();
  std::vector<double> ratios;
  for (size_t i = 0; i < deepTimes.size(); ++i) ratios.push_back(deepTimes[i] / shallowTimes[i]);
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  state.counters["ratio"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
}

// What the trace log must do per line and no more: open without following a link nor waiting on
// a FIFO, fstat to take only an ordinary file, append, close.
void appendChecked(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) std::abort();
  if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  ::close(fd);
}

void BM_PushTracedVsFloor(benchmark::State& state) {
  clsErrHandler h;
  h.Destination(scratchFolder() + "/traced");
  h.TraceExecution(true);
  std::filesystem::create_directories(scratchFolder() + "/floor");
  const std::string floorPath = scratchFolder() + "/floor/Trace.log";
  const std::string name = "PostInvoice";
  const std::string line = name + "\r\n";
  alternate(
      state, 32,
      [&] {
        benchmark::DoNotOptimize(h.Push(name));
        benchmark::DoNotOptimize(h.Pop());
      },
      [&] { appendChecked(floorPath, line); });
}

void BM_HandleErrorVsFloor(benchmark::State& state) {
  clsErrHandler h;
  h.Destination(scratchFolder() + "/handled");
  pushClientStack(h);
  h.HandleError("Subscript out of range", 9, 120, "Posting failed");
  // The floor writes the very bytes the handler writes.
  const std::string bytes = h.ErrorLogDisplay() + "\r\n";
  std::filesystem::create_directories(scratchFolder() + "/handled-floor");
  const std::string floorPath = scratchFolder() + "/handled-floor/Error.log";
  alternate(
      state, 1,
      [&] {
        pushClientStack(h);
        benchmark::DoNotOptimize(h.HandleError("Subscript out of range", 9, 120, "Posting failed"));
      },
      [&] { appendBytes(floorPath, bytes, O_TRUNC); });
}

BENCHMARK(BM_PushPopVsVector);
BENCHMARK(BM_PushPopDeepVsShallow);
BENCHMARK(BM_PushTracedVsFloor);
BENCHMARK(BM_HandleErrorVsFloor);

class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ratio;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (auto it = r.counters.find("ratio"); it != r.counters.end()) ratio[r.benchmark_name()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  auto& ratio = collector.ratio;
  struct Row {
    const char* name;
    double figure;
    double target;
  };
  const Row rows[] = {
      {"native_push_pop_vs_vector_push_pop_x", ratio["BM_PushPopVsVector"], 2.5},
      {"native_traced_push_vs_open_fstat_append_close_x", ratio["BM_PushTracedVsFloor"], 1.15},
      {"native_handle_error_20deep_10params_vs_error_log_write_x", ratio["BM_HandleErrorVsFloor"], 3},
      {"native_push_pop_at_depth_1e6_vs_depth_10_x", ratio["BM_PushPopDeepVsShallow"], 1.2},
  };
  // One line per figure for scripts/bench.sh, which builds its table from these alone.
  bool allMet = true;
  std::printf("\n");
  for (const Row& r : rows) {
    const bool met = r.figure > 0 && r.figure <= r.target;
    allMet = allMet && met;
    std::printf("FIGURE %s %.3f %.2f %s\n", r.name, r.figure, r.target, met ? "met" : "NOT-MET");
  }
  std::filesystem::remove_all(scratchFolder());
  return allMet ? 0 : 1;
}
