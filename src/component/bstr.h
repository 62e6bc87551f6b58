#pragma once
// BSTR at the boundary, UTF-8 inside.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quenvar::com {

std::string fromBstr(BSTR text);
// The characters as they are, without a copy; a null BSTR is empty. The length comes from the
// string's own prefix (its size in bytes), as SysStringLen reads it, without a call into another
// module on every Push.
inline std::u16string_view bstrView(BSTR text) {
  if (!text) return {};
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
  return {reinterpret_cast<const char16_t*>(text), bytes / sizeof(char16_t)};
}
// A new BSTR the caller owns; raises out of memory (7) when allocation fails.
BSTR toBstr(std::string_view text);

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view text) : b_(toBstr(text)) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  BSTR release() {
    BSTR b = b_;
    b_ = nullptr;
    return b;
  }

 private:
  BSTR b_ = nullptr;
};

}  // namespace quenvar::com
