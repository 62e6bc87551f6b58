#include "platform/win32/form_window.h"

#include <algorithm>
#include <climits>
#include <map>

#include "platform/win32/mouse_pointer_win32.h"
#include "platform/win32/utf.h"

namespace quenvar::win32 {

namespace {

constexpr wchar_t kFormClass[] = L"QuenvarForm";
constexpr wchar_t kContainerClass[] = L"QuenvarContainer";
// Clear of IDOK and IDCANCEL, which the dialog manager sends for Enter and Esc.
constexpr int kFirstControlId = 100;

HINSTANCE moduleInstance() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
  return module;
}

FormWindow* formOf(HWND hwnd) {
  return reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(::GetAncestor(hwnd, GA_ROOT), GWLP_USERDATA));
}

bool isContainer(ControlKind kind) { return kind == ControlKind::PictureBox || kind == ControlKind::Frame; }

}  // namespace

FormWindow::FormWindow(Form& form, Dpi dpi) : form_(form), dpi_(dpi), gdi_(dpi.y) {}

FormWindow::~FormWindow() { destroy(); }

bool FormWindow::registerClasses() {
  static const bool registered = [] {
    const HINSTANCE instance = moduleInstance();
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = &FormWindow::formProc;
    form.hInstance = instance;
    form.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    form.lpszClassName = kFormClass;
    WNDCLASSEXW container = form;
    container.lpfnWndProc = &FormWindow::containerProc;
    container.hbrBackground = nullptr;  // each container paints its own colour
    container.lpszClassName = kContainerClass;
    // Already registered by an earlier load of the module in this process is fine too.
    const auto ok = [](const WNDCLASSEXW& c) {
      return ::RegisterClassExW(&c) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    };
    return ok(form) && ok(container);
  }();
  return registered;
}

bool FormWindow::create() {
  if (!registerClasses()) return false;
  const DWORD style = WS_CLIPCHILDREN |
                      (form_.sizable ? WS_OVERLAPPEDWINDOW : WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU);
  const DWORD exStyle = WS_EX_CONTROLPARENT | (form_.sizable ? 0 : WS_EX_DLGMODALFRAME);
  RECT frame{0, 0, twipsToPixels(form_.clientWidth, dpi_.x), twipsToPixels(form_.clientHeight, dpi_.y)};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + std::max(0L, (work.right - work.left - width) / 2);
  const int y = work.top + std::max(0L, (work.bottom - work.top - height) / 2);

  const HWND created = ::CreateWindowExW(exStyle, kFormClass, widen(form_.caption).c_str(), style, x, y, width, height,
                                         nullptr, nullptr, moduleInstance(), this);
  hwnd_ = created;  // the creation messages may have set it to a window that failed after all
  if (!hwnd_) return false;

  // Tab order decides the z-order, as in a dialog; a container comes before what it holds.
  std::vector<size_t> order(form_.controls.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const int ta = form_.controls[a].tabIndex, tb = form_.controls[b].tabIndex;
    return (ta < 0 ? INT_MAX : ta) < (tb < 0 ? INT_MAX : tb);
  });
  items_.reserve(order.size());
  for (size_t i : order) {
    Item item;
    item.index = i;
    item.id = kFirstControlId + static_cast<int>(i);
    items_.push_back(item);
  }
  std::map<HWND, ControlKind> lastKind;  // per parent, for the option groups
  for (bool progress = true; progress;) {
    progress = false;
    for (Item& item : items_) {
      const Control& control = controlOf(item);
      if (item.hwnd || control.kind == ControlKind::Line || control.kind == ControlKind::Hidden) continue;
      const HWND parent = parentOf(control);
      if (!parent) continue;  // its container is not made yet
      // Options that follow one another in a container form one group for the arrow keys.
      const auto last = lastKind.find(parent);
      createControl(item, parent, last == lastKind.end() || last->second != ControlKind::OptionButton);
      lastKind[parent] = control.kind;
      progress = true;
    }
  }
  render();
  return true;
}

HWND FormWindow::parentOf(const Control& control) const {
  if (control.container.empty()) return hwnd_;
  for (const Item& item : items_) {
    const Control& candidate = controlOf(item);
    if (candidate.name == control.container && isContainer(candidate.kind)) return item.hwnd;
  }
  return nullptr;
}

void FormWindow::createControl(Item& item, HWND parent, bool startsGroup) {
  const Control& control = controlOf(item);
  const HINSTANCE instance = moduleInstance();
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  const wchar_t* windowClass = L"BUTTON";
  switch (control.kind) {
    case ControlKind::Label: windowClass = L"STATIC"; break;
    case ControlKind::PictureBox:
    case ControlKind::Frame:
      windowClass = kContainerClass;
      style |= WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
      break;
    case ControlKind::Button: style |= WS_TABSTOP | WS_GROUP; break;
    case ControlKind::CheckBox: style |= WS_TABSTOP | WS_GROUP | BS_CHECKBOX; break;
    case ControlKind::OptionButton: style |= WS_TABSTOP | BS_RADIOBUTTON; break;
    case ControlKind::TextBox:
      windowClass = L"EDIT";
      style |= WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
      if (control.multiLine) style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Line:
    case ControlKind::Hidden: return;
  }
  if (control.kind == ControlKind::OptionButton && startsGroup) style |= WS_GROUP;
  item.hwnd = ::CreateWindowExW(exStyle, windowClass, L"", style, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), instance, nullptr);
  if (!item.hwnd) return;
  if (control.kind == ControlKind::TextBox) {
    ::SendMessageW(item.hwnd, EM_LIMITTEXT, 0, 0);  // the largest the control allows
    ::SetWindowLongPtrW(item.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    item.editProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(item.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormWindow::editProc)));
  }
}

void FormWindow::show() {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  raiseResize(client.right, client.bottom);
  if (finished()) return;
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  ::SetForegroundWindow(hwnd_);
  ::UpdateWindow(hwnd_);
  shown_ = true;
  // A focus the first resize asked for waited until now: a hidden window cannot take it.
  if (form_.focus.empty()) moveFocus(+1);
  else applyFocus();
  raise([](Form& form) { form.onActivate(); });
}

void FormWindow::destroy() {
  if (!hwnd_) return;
  const HWND window = hwnd_;
  hwnd_ = nullptr;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
  items_.clear();
}

FormWindow::Item* FormWindow::itemFor(HWND hwnd) {
  if (!hwnd) return nullptr;
  for (Item& item : items_)
    if (item.hwnd == hwnd) return &item;
  return nullptr;
}

FormWindow::Item* FormWindow::itemNamed(std::string_view name) {
  for (Item& item : items_)
    if (controlOf(item).name == name) return &item;
  return nullptr;
}

bool FormWindow::usable(const Control& control) const {
  if (!control.visible || !control.enabled) return false;
  if (control.container.empty()) return true;
  for (const Control& candidate : form_.controls)
    if (candidate.name == control.container && isContainer(candidate.kind)) return usable(candidate);
  return false;
}

bool FormWindow::takesFocus(const Control& control) const {
  switch (control.kind) {
    case ControlKind::Button:
    case ControlKind::TextBox:
    case ControlKind::OptionButton:
    case ControlKind::CheckBox: return control.tabIndex >= 0 && usable(control);
    default: return false;
  }
}

void FormWindow::raise(const std::function<void(Form&)>& handler) {
  if (finished()) return;
  try {
    handler(form_);
  } catch (...) {
    // Nothing may unwind through the system's code that called the window procedure.
    failure_ = std::current_exception();
    closing_ = true;
  }
  settle();
}

void FormWindow::settle() {
  if (!closing_ && !form_.loaded) closing_ = true;
  if (!closing_) {
    try {
      render();
      applyFocus();
    } catch (...) {
      failure_ = std::current_exception();
      closing_ = true;
    }
  }
  // A sent message is handled inside GetMessage, which would not return to the loop to see this.
  if (closing_ && hwnd_) ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void FormWindow::raiseResize(int width, int height) {
  const SIZE size{width, height};
  if (size.cx == reported_.cx && size.cy == reported_.cy) return;
  reported_ = size;
  const int w = pixelsToTwips(width, dpi_.x), h = pixelsToTwips(height, dpi_.y);
  raise([w, h](Form& form) { form.onResize(w, h); });
}

LRESULT CALLBACK FormWindow::formProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<FormWindow*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  FormWindow* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return self->formMessage(message, wParam, lParam);
}

LRESULT CALLBACK FormWindow::containerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    // What the controls tell their parent belongs to the form.
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_DRAWITEM:
    case WM_HSCROLL:
    case WM_VSCROLL: return ::SendMessageW(::GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    case WM_ERASEBKGND: {
      FormWindow* self = formOf(hwnd);
      Item* item = self ? self->itemFor(hwnd) : nullptr;
      if (!item) break;
      RECT client{};
      ::GetClientRect(hwnd, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client,
                 self->gdi_.brush(gdiColour(self->controlOf(*item).backColor)));
      return 1;
    }
    case WM_PAINT: {
      FormWindow* self = formOf(hwnd);
      Item* item = self ? self->itemFor(hwnd) : nullptr;
      if (!item) break;
      self->paint(hwnd, &self->controlOf(*item));
      return 0;
    }
    case WM_GETDLGCODE: {
      // A frame's access key moves on to the next control, as a group box's does.
      FormWindow* self = formOf(hwnd);
      Item* item = self ? self->itemFor(hwnd) : nullptr;
      if (item && self->controlOf(*item).kind == ControlKind::Frame) return DLGC_STATIC;
      break;
    }
    default: break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

void FormWindow::showPointer() {
  if (hwnd_) askForCursor(hwnd_);
}

LRESULT FormWindow::formMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR:
      // The controls ask their parent first, so this covers them too.
      if (LOWORD(lParam) == HTCLIENT && form_.mousePointer == MousePointer::kBusy) {
        ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      break;
    case WM_COMMAND: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      const WORD code = HIWORD(wParam);
      Item* item = itemFor(control);
      if (!control) {
        // The dialog manager names a default button it cannot find by its id only.
        if (LOWORD(wParam) == IDOK) pressKind(true);
        else if (LOWORD(wParam) == IDCANCEL) pressKind(false);
        else
          for (Item& candidate : items_)
            if (candidate.id == LOWORD(wParam) && candidate.hwnd) press(candidate);
        return 0;
      }
      if (!item || item->hwnd != control) return 0;
      const ControlKind kind = controlOf(*item).kind;
      if (code == BN_CLICKED && kind != ControlKind::TextBox) press(*item);
      if (code == EN_CHANGE && kind == ControlKind::TextBox && !rendering_) {
        const int length = ::GetWindowTextLengthW(control);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), length + 1)));
        const std::string name = controlOf(*item).name, utf8 = narrow(text);
        raise([&](Form& form) { form.onEdit(name, utf8); });
      }
      return 0;
    }
    case DM_GETDEFID:
      for (Item& item : items_) {
        const Control& control = controlOf(item);
        if (control.kind == ControlKind::Button && control.isDefault && usable(control))
          return MAKELRESULT(item.id, DC_HASDEFID);
      }
      return 0;
    case WM_NEXTDLGCTL:
      if (LOWORD(lParam)) focusControl(reinterpret_cast<HWND>(wParam));
      else moveFocus(wParam ? -1 : +1);
      return 0;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return colours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_PAINT:
      paint(hwnd_, nullptr);
      return 0;
    case WM_SIZE:
      if (shown_) {
        const bool minimized = wParam == SIZE_MINIMIZED;
        raiseResize(minimized ? 0 : LOWORD(lParam), minimized ? 0 : HIWORD(lParam));
      }
      return 0;
    case WM_CLOSE:
      raise([](Form& form) { form.onClose(); });
      return 0;
    case WM_ACTIVATE:
      // Keeps the control that had the focus; the form's own activation is not tied to this.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus && ::IsChild(hwnd_, focus)) savedFocus_ = focus;
        return 0;
      }
      if (savedFocus_ && ::IsWindow(savedFocus_) && ::IsChild(hwnd_, savedFocus_)) {
        ::SetFocus(savedFocus_);
        return 0;
      }
      break;
    case kReactivate:
      raise([](Form& form) { form.onActivate(); });
      return 0;
    default: break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace quenvar::win32
