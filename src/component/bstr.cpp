#include "bstr.h"

#include "core/automation_error.h"
#include "platform/win32/utf.h"

namespace quenvar::com {

std::string fromBstr(BSTR text) {
  if (!text) return {};
  const UINT length = SysStringLen(text);
  // Procedure and parameter names are nearly always ASCII: copy those without a conversion call.
  std::string ascii(length, '\0');
  for (UINT i = 0; i < length; ++i) {
    if (text[i] >= 0x80) return win32::narrow(std::wstring_view(text, length));
    ascii[i] = static_cast<char>(text[i]);
  }
  return ascii;
}

BSTR toBstr(std::string_view text) {
  std::wstring wide = win32::widen(text);
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw AutomationError(7, "Out of memory");
  return b;
}

}  // namespace quenvar::com
