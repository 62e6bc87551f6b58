#include "platform/win32/mouse_pointer_win32.h"

namespace quenvar {

namespace {

// Per thread, as the windows it covers; trivially destructible, and never left installed past
// an operation (each one sets the pointer back), so no hook outlives a call into the DLL.
thread_local HHOOK keepBusy = nullptr;

HCURSOR systemCursor(LPCWSTR id) { return ::LoadCursorW(nullptr, id); }

// After any window of the thread has chosen its cursor, the hourglass replaces it.
LRESULT CALLBACK afterWindowProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && reinterpret_cast<const CWPRETSTRUCT*>(lParam)->message == WM_SETCURSOR)
    ::SetCursor(systemCursor(reinterpret_cast<LPCWSTR>(IDC_WAIT)));
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void Win32MousePointer::set(int value) {
  if (value == kBusy) {
    if (!keepBusy) keepBusy = ::SetWindowsHookExW(WH_CALLWNDPROCRET, &afterWindowProc, nullptr, ::GetCurrentThreadId());
    ::SetCursor(systemCursor(reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return;
  }
  if (keepBusy) ::UnhookWindowsHookEx(keepBusy);
  keepBusy = nullptr;
  ::SetCursor(systemCursor(reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  askForCursor(nullptr);
}

void askForCursor(HWND root) {
  POINT at{};
  const HWND under = ::GetCursorPos(&at) ? ::WindowFromPoint(at) : nullptr;
  if (!under || ::GetWindowThreadProcessId(under, nullptr) != ::GetCurrentThreadId()) return;
  if (root && under != root && !::IsChild(root, under)) return;
  const LRESULT hit = ::SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
  ::SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hit, WM_MOUSEMOVE));
}

}  // namespace quenvar
