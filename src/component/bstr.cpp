#include "bstr.h"

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"

namespace quenvar::com {

std::string fromBstr(BSTR text) {
  std::string buffer;  // grown from empty: it holds exactly the text
  fromBstr(text, buffer);
  return buffer;
}

std::string_view fromBstr(BSTR text, std::string& buffer) {
  const size_t length = text ? SysStringLen(text) : 0;
  // The buffer only grows: its size is the longest text so far, and the view covers this one.
  // Names are nearly always ASCII: those are copied with no conversion call and no call into
  // the runtime's memcpy or memset, which cost more than the copy itself.
  if (buffer.size() < length) buffer.resize(length);
  char* out = buffer.data();
  for (size_t i = 0; i < length; ++i) {
    if (text[i] >= 0x80) {
      buffer = win32::narrow(std::wstring_view(text, length));
      return buffer;
    }
    out[i] = static_cast<char>(text[i]);
  }
  return std::string_view(out, length);
}

BSTR toBstr(std::string_view text) {
  std::wstring wide = win32::widen(text);
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw AutomationError(7, "Out of memory");
  return b;
}

}  // namespace quenvar::com
