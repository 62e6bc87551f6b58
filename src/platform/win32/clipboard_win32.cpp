#include "platform/win32/clipboard_win32.h"

#include <cstring>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {
constexpr int32_t kCantOpenClipboard = 521;

// The clipboard is opened by a window of the copy's own. Wine lets an open without a window
// through while another open without a window holds the clipboard, even from another thread,
// so a client thread reading the clipboard meanwhile saw it empty and closed it under the copy.
// The text stays on the clipboard when the window goes.
class CopyWindow {
 public:
  CopyWindow() : hwnd_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
  ~CopyWindow() {
    if (hwnd_) ::DestroyWindow(hwnd_);
  }
  CopyWindow(const CopyWindow&) = delete;
  CopyWindow& operator=(const CopyWindow&) = delete;
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// Another program may hold the clipboard for a moment.
bool openClipboard(HWND owner) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (::OpenClipboard(owner)) return true;
    ::Sleep(10);
  }
  return false;
}
}  // namespace

void Win32Clipboard::setText(const std::string& text) {
  const std::wstring wide = win32::widen(text);
  const CopyWindow owner;
  if (!openClipboard(owner.get())) throw AutomationError(kCantOpenClipboard, "Can't open Clipboard");
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
