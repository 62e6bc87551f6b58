#include "bstr.h"

#include <cstdint>
#include <cstring>

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "platform/win32/utf.h"

namespace quenvar::com {

std::string fromBstr(BSTR text) { return utf8FromUtf16(bstrView(text)); }

std::u16string_view bstrView(BSTR text) {
  if (!text) return {};
  // The length from the string's own prefix (its size in bytes), as SysStringLen reads it,
  // without a call into another module on every Push.
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
  return {reinterpret_cast<const char16_t*>(text), bytes / sizeof(char16_t)};
}

BSTR toBstr(std::string_view text) {
  std::wstring wide = win32::widen(text);
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw AutomationError(7, "Out of memory");
  return b;
}

}  // namespace quenvar::com
