#include "platform/win32/window_system_win32.h"

#include <vector>

#include "quenvar/automation_error.h"
#include "platform/win32/form_window.h"

namespace quenvar {

namespace {

using win32::FormWindow;

// The forms this thread shows, innermost last: a trivially destructible link, so a DLL needs no
// thread-exit clean-up for it.
struct Shown {
  FormWindow* window;
  Shown* below;
};
thread_local Shown* topShown = nullptr;

class ShownOnThisThread {
 public:
  explicit ShownOnThisThread(FormWindow& window) : entry_{&window, topShown} { topShown = &entry_; }
  ~ShownOnThisThread() { topShown = entry_.below; }
  ShownOnThisThread(const ShownOnThisThread&) = delete;
  ShownOnThisThread& operator=(const ShownOnThisThread&) = delete;

 private:
  Shown entry_;
};

// Modal without an owner: every other window of the thread takes no input meanwhile.
class OtherWindowsDisabled {
 public:
  explicit OtherWindowsDisabled(HWND shown) : shown_(shown) {
    ::EnumThreadWindows(::GetCurrentThreadId(), &OtherWindowsDisabled::disable, reinterpret_cast<LPARAM>(this));
  }
  ~OtherWindowsDisabled() { restore(); }
  OtherWindowsDisabled(const OtherWindowsDisabled&) = delete;
  OtherWindowsDisabled& operator=(const OtherWindowsDisabled&) = delete;

  // Before the shown window goes, so that the system activates one of these, not another program.
  void restore() {
    for (HWND hwnd : disabled_)
      if (::IsWindow(hwnd)) ::EnableWindow(hwnd, TRUE);
    disabled_.clear();
  }

 private:
  static BOOL CALLBACK disable(HWND hwnd, LPARAM self) {
    auto* me = reinterpret_cast<OtherWindowsDisabled*>(self);
    // Hidden helper windows (input method, automation) take no input anyway and are left alone.
    if (hwnd != me->shown_ && ::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd)) {
      ::EnableWindow(hwnd, FALSE);
      me->disabled_.push_back(hwnd);
    }
    return TRUE;
  }

  HWND shown_;
  std::vector<HWND> disabled_;
};

void runModalLoop(FormWindow& window) {
  MSG message{};
  while (!window.finished()) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // The thread is quitting: leave, and let the next loop out see it too.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (window.preTranslate(message)) continue;
    if (window.hwnd() && ::IsDialogMessageW(window.hwnd(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

void Win32WindowSystem::showModal(Form& form) {
  FormWindow window(form, win32::screenDpi());
  // Wine without a display (its null driver) refuses every top-level window: the same
  // refusal makes its message boxes answer -1 at once.
  if (!window.create())
    throw AutomationError(err::kInvalidCall, "No window system is available to show the dialog");

  {
    ShownOnThisThread shown(window);
    OtherWindowsDisabled others(window.hwnd());
    window.show();
    runModalLoop(window);
    others.restore();
    window.destroy();
  }
  // The form below becomes the active one again: raised from its own loop, after the handler
  // that showed this form has returned.
  if (topShown && topShown->window->hwnd())
    ::PostMessageW(topShown->window->hwnd(), FormWindow::kReactivate, 0, 0);
  if (window.failure()) std::rethrow_exception(window.failure());
}

void Win32WindowSystem::showPointer(const Form& form) {
  for (const Shown* shown = topShown; shown; shown = shown->below)
    if (&shown->window->form() == &form) shown->window->showPointer();
}

}  // namespace quenvar
