// The form's keyboard and buttons: tab order from the model, Enter and Esc for the default and
// cancel buttons, clicks raised as events, and the text boxes' keystrokes offered to the
// form's key handlers before the control sees them.

#include <algorithm>
#include <climits>

#include "platform/win32/form_window.h"

namespace quenvar::win32 {

namespace {

bool keyDown(int key) { return (::GetKeyState(key) & 0x8000) != 0; }

}  // namespace

bool FormWindow::preTranslate(const MSG& message) {
  if (message.message != WM_KEYDOWN || finished()) return false;
  if (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd)) return false;
  if (keyDown(VK_MENU) || keyDown(VK_CONTROL)) return false;
  switch (message.wParam) {
    case VK_TAB:
      moveFocus(keyDown(VK_SHIFT) ? -1 : +1);
      return true;
    case VK_RETURN: {
      // A focused button takes Enter itself; anywhere else, even a multi-line text box, the
      // default button does.
      Item* focused = itemFor(::GetFocus());
      if (focused && focused->hwnd == ::GetFocus() && controlOf(*focused).kind == ControlKind::Button) {
        press(*focused);
        return true;
      }
      for (Item& item : items_) {
        const Control& control = controlOf(item);
        if (control.kind == ControlKind::Button && control.isDefault && usable(control)) {
          press(item);
          return true;
        }
      }
      return false;
    }
    case VK_ESCAPE:
      for (Item& item : items_) {
        const Control& control = controlOf(item);
        if (control.kind == ControlKind::Button && control.isCancel && usable(control)) {
          press(item);
          return true;
        }
      }
      return false;
    default: return false;
  }
}

void FormWindow::pressKind(bool defaultButton) {
  for (Item& item : items_) {
    const Control& control = controlOf(item);
    if (control.kind == ControlKind::Button && (defaultButton ? control.isDefault : control.isCancel) &&
        usable(control)) {
      press(item);
      return;
    }
  }
}

void FormWindow::press(Item& item) {
  const Control& control = controlOf(item);
  if (!usable(control)) return;
  const std::string name = control.name;
  switch (control.kind) {
    case ControlKind::Button: raise([&](Form& form) { form.onClick(name); }); break;
    case ControlKind::CheckBox: {
      const int value = control.value == 1 ? 0 : 1;
      raise([&](Form& form) {
        form.onValue(name, value);
        form.onClick(name);
      });
      break;
    }
    case ControlKind::OptionButton: {
      const std::string container = control.container;
      raise([&](Form& form) {
        // Picking one option clears the others of its container.
        std::vector<std::string> cleared;
        for (const Control& other : form.controls)
          if (other.kind == ControlKind::OptionButton && other.container == container && other.name != name &&
              other.value != 0)
            cleared.push_back(other.name);
        if (form.control(name).value != 1) form.onValue(name, 1);
        for (const std::string& other : cleared) form.onValue(other, 0);
        form.onClick(name);
      });
      break;
    }
    default: break;
  }
}

void FormWindow::focusControl(HWND hwnd) {
  if (hwnd && (hwnd == hwnd_ || ::IsChild(hwnd_, hwnd))) ::SetFocus(hwnd);
}

void FormWindow::moveFocus(int direction) {
  // An option group is one stop: its selected option, or its first when none is.
  std::vector<const Item*> stops;
  for (const Item& item : items_) {
    const Control& control = controlOf(item);
    if (!item.hwnd || !takesFocus(control)) continue;
    if (control.kind == ControlKind::OptionButton) {
      const Control* chosen = nullptr;
      for (const Item& other : items_) {
        const Control& candidate = controlOf(other);
        if (candidate.kind != ControlKind::OptionButton || candidate.container != control.container ||
            !takesFocus(candidate))
          continue;
        if (candidate.value == 1) {
          chosen = &candidate;
          break;
        }
        if (!chosen || candidate.tabIndex < chosen->tabIndex) chosen = &candidate;
      }
      if (chosen != &control) continue;
    }
    stops.push_back(&item);
  }
  if (stops.empty()) return;
  std::stable_sort(stops.begin(), stops.end(),
                   [&](const Item* a, const Item* b) { return controlOf(*a).tabIndex < controlOf(*b).tabIndex; });
  const Item* current = itemFor(::GetFocus());
  const int from = current ? controlOf(*current).tabIndex : (direction > 0 ? -1 : INT_MAX);
  const Item* next = nullptr;
  if (direction > 0) {
    for (const Item* stop : stops)
      if (controlOf(*stop).tabIndex > from) {
        next = stop;
        break;
      }
    if (!next) next = stops.front();
  } else {
    for (auto it = stops.rbegin(); it != stops.rend(); ++it)
      if (controlOf(**it).tabIndex < from) {
        next = *it;
        break;
      }
    if (!next) next = stops.back();
  }
  ::SetFocus(next->hwnd);
}

LRESULT CALLBACK FormWindow::editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  Item* item = self ? self->itemFor(hwnd) : nullptr;
  if (!item) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return self->editMessage(*item, message, wParam, lParam);
}

LRESULT FormWindow::editMessage(Item& item, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = item.hwnd;
  const WNDPROC original = item.editProc;
  const std::string name = controlOf(item).name;
  int code = static_cast<int>(wParam);
  WPARAM pass = wParam;
  switch (message) {
    case WM_KEYDOWN:
      raise([&](Form& form) { form.onKeyDown(name, code); });
      if (code == 0) return 0;
      pass = static_cast<WPARAM>(code);
      break;
    case WM_KEYUP:
      raise([&](Form& form) { form.onKeyUp(name, code); });
      if (code == 0) return 0;
      pass = static_cast<WPARAM>(code);
      break;
    case WM_CHAR: {
      raise([&](Form& form) { form.onKeyPress(name, code); });
      if (code == 0) return 0;
      // Ctrl+V and the like come back as WM_PASTE and friends: already offered as this key.
      passingChar_ = true;
      const LRESULT result = ::CallWindowProcW(original, hwnd, message, static_cast<WPARAM>(code), lParam);
      passingChar_ = false;
      return result;
    }
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO: {
      // The context menu changes the text without a keystroke: offered as the keys that would.
      if (passingChar_) break;
      code = message == WM_PASTE ? 22 : message == WM_CUT ? 24 : message == WM_CLEAR ? 127 : 26;
      raise([&](Form& form) { form.onKeyPress(name, code); });
      if (code == 0) return 0;
      break;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      break;
    default: break;
  }
  return ::CallWindowProcW(original, hwnd, message, pass, lParam);
}

}  // namespace quenvar::win32
