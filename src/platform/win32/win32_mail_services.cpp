#include "platform/win32/win32_mail_services.h"

#include <cstring>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

#include <shellapi.h>

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

void Win32MousePointer::set(int value) {
  ::SetCursor(::LoadCursorA(nullptr, value == kBusy ? IDC_WAIT : IDC_ARROW));
}

int64_t Win32ShellLauncher::open(const std::string& file, const std::string& parameters, const std::string& folder) {
  const std::string ansiFile = win32::toAnsi(file);
  const std::string ansiParameters = win32::toAnsi(parameters);
  const std::string ansiFolder = win32::toAnsi(folder);
  const HINSTANCE result =
      ::ShellExecuteA(::GetDesktopWindow(), "Open", ansiFile.c_str(), parameters.empty() ? nullptr : ansiParameters.c_str(),
                      ansiFolder.c_str(), SW_SHOWNORMAL);
  return static_cast<int64_t>(reinterpret_cast<INT_PTR>(result));
}

}  // namespace quenvar
