#include "platform/win32/clipboard_win32.h"

#include <cstring>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {
constexpr int32_t kCantOpenClipboard = 521;

// Another program may hold the clipboard for a moment.
bool openClipboard() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (::OpenClipboard(nullptr)) return true;
    ::Sleep(10);
  }
  return false;
}
}  // namespace

void Win32Clipboard::setText(const std::string& text) {
  const std::wstring wide = win32::widen(text);
  if (!openClipboard()) throw AutomationError(kCantOpenClipboard, "Can't open Clipboard");
  ::EmptyClipboard();
  const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  // Once SetClipboardData accepts the memory, the clipboard owns it.
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool placed = false;
  if (memory) {
    if (void* target = ::GlobalLock(memory)) {
      std::memcpy(target, wide.c_str(), bytes);
      ::GlobalUnlock(memory);
      placed = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!placed) ::GlobalFree(memory);
  }
  ::CloseClipboard();
  if (!placed) throw AutomationError(kCantOpenClipboard, "Can't open Clipboard");
}

}  // namespace quenvar
