#pragma once
// What the timing clients share: a steady clock and the FIGURE line scripts/bench.sh reads.

#include <windows.h>

#include <cstdio>

namespace bench {

inline double seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A ratio of times must be positive to mean anything; a share of memory may well be zero.
inline bool figure(const char* name, double value, double target, bool zeroAllowed = false) {
  const bool met = (zeroAllowed ? value >= 0 : value > 0) && value <= target;
  std::printf("FIGURE %s %.3f %.2f %s\n", name, value, target, met ? "met" : "NOT-MET");
  return met;
}

}  // namespace bench
