#include "collector/ids.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace quenvar::collector {

namespace {

std::mt19937_64& threadRandom() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  return generator;
}

std::string hex(uint64_t a, uint64_t b) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
  return text;
}

}  // namespace

std::string randomHex() { return hex(threadRandom()(), threadRandom()()); }

std::string uuid() {
  const uint64_t a = (threadRandom()() & ~0xF000ULL) | 0x4000ULL;
  const uint64_t b = (threadRandom()() & ~(3ULL << 62)) | (2ULL << 62);
  const std::string h = hex(a, b);
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" + h.substr(20);
}

double randomFraction() { return std::uniform_real_distribution<double>(0, 1)(threadRandom()); }

}  // namespace quenvar::collector
