#pragma once
// What the bench programs read back from a run: the "ratio" counter of each benchmark, and the
// process's own memory figures.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

// A benchmark that failed reports no ratio: its figure is then missing, never a number.
class Ratios : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ratio;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const auto it = r.counters.find("ratio");
      if (it != r.counters.end() && !r.error_occurred) ratio[r.benchmark_name()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// A kB field of /proc/self/status (VmRSS, VmSize, VmHWM) or a count (Threads); -1 when absent.
inline long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size() + 1);
  return -1;
}
