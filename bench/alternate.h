#pragma once
// Paired runs: the subject and its floor alternate in batches inside one benchmark, so drift in
// the machine's load or the file system's state falls on both alike.

#include <benchmark/benchmark.h>

#include <chrono>

template <class Subject, class Floor>
void alternate(benchmark::State& state, int batch, Subject subject, Floor floor) {
  using Clock = std::chrono::steady_clock;
  Clock::duration subjectTime{}, floorTime{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) floor();
    auto t1 = Clock::now();
    for (int i = 0; i < batch; ++i) subject();
    auto t2 = Clock::now();
    floorTime += t1 - t0;
    subjectTime += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations()) * batch;
  state.counters["subject_ns"] = std::chrono::duration<double, std::nano>(subjectTime).count() / n;
  state.counters["floor_ns"] = std::chrono::duration<double, std::nano>(floorTime).count() / n;
  state.counters["ratio"] = static_cast<double>(subjectTime.count()) / static_cast<double>(floorTime.count());
}
