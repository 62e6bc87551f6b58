#include "bstr.h"

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "platform/win32/utf.h"

namespace quenvar::com {

std::string fromBstr(BSTR text) { return utf8FromUtf16(bstrView(text)); }

BSTR toBstr(std::string_view text) {
  std::wstring wide = win32::widen(text);
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw AutomationError(err::kOutOfMemory, "Out of memory");
  return b;
}

}  // namespace quenvar::com
