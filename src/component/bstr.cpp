#include "bstr.h"

#include "core/automation_error.h"
#include "platform/win32/utf.h"

namespace quenvar::com {

std::string fromBstr(BSTR text) {
  if (!text) return {};
  return win32::narrow(std::wstring_view(text, SysStringLen(text)));
}

BSTR toBstr(std::string_view text) {
  std::wstring wide = win32::widen(text);
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw AutomationError(7, "Out of memory");
  return b;
}

}  // namespace quenvar::com
