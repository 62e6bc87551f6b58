#pragma once
// The fuzzer's bytes read as a sequence of small decisions, then texts. Running out of bytes
// reads as zeros and empty texts, so every input is a complete run.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "quenvar/variant.h"

namespace quenvar::fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return rest_.empty(); }
  std::string_view rest() const { return rest_; }

  uint8_t byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  template <class T>
  T number() {
    T value{};
    const size_t n = rest_.size() < sizeof value ? rest_.size() : sizeof value;
    std::memcpy(&value, rest_.data(), n);
    rest_.remove_prefix(n);
    return value;
  }
  // Up to the next NUL (consumed) or the end: seeds stay readable.
  std::string text() {
    const size_t end = rest_.find('\0');
    std::string out(rest_.substr(0, end));
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return out;
  }

  // Any value but an object, each type as likely as the next.
  Variant scalar() {
    switch (byte() % 11) {
      case 0: return Variant();
      case 1: return Variant::null();
      case 2: return Variant(byte() % 2 == 1);
      case 3: return Variant(number<int16_t>());
      case 4: return Variant(number<int32_t>());
      case 5: return Variant(number<double>());
      case 6: return Variant(Currency{number<int64_t>()});
      case 7: return Variant(Date{number<double>()});
      case 8: return Variant(ErrorValue{number<int32_t>()});
      case 9: {
        VariantArray a;
        a.lowerBound = byte();
        for (int n = byte() % 3; n > 0; --n) a.items.push_back(Variant(text()));
        return Variant(std::move(a));
      }
      default: return Variant(text());
    }
  }

 private:
  std::string_view rest_;
};

}  // namespace quenvar::fuzz
