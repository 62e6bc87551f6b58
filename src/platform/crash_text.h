#pragma once
// Text written on a crashing thread, without the C library's formatting, which may allocate or
// take a lock the dying thread already holds: into a fixed buffer, cut where it ends.

#include <cstddef>
#include <cstdint>

namespace quenvar {

class CrashText {
 public:
  CrashText(char* out, size_t size) : at_(out), end_(out + size - 1) { *at_ = '\0'; }
  CrashText& operator<<(const char* text) {
    while (*text != '\0' && at_ < end_) *at_++ = *text++;
    *at_ = '\0';
    return *this;
  }
  // At least `digits` digits, zeros first.
  CrashText& number(uint64_t value, unsigned base, int digits, bool upper = false) {
    const char* const symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[64];
    int n = 0;
    do {
      reversed[n++] = symbols[value % base];
      value /= base;
    } while ((value != 0 || n < digits) && n < 64);
    while (n > 0 && at_ < end_) *at_++ = reversed[--n];
    *at_ = '\0';
    return *this;
  }

 private:
  char* at_;
  char* end_;
};

}  // namespace quenvar
