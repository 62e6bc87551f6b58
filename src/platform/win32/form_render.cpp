// Showing the model: each property is written only where the window differs, so a render
// after every event neither flickers nor moves a caret.

#include "platform/win32/form_window.h"
#include "platform/win32/utf.h"

namespace quenvar::win32 {

namespace {

std::wstring windowText(HWND hwnd) {
  const int length = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), length + 1)));
  return text;
}

// True when the text changed.
bool setText(HWND hwnd, const std::string& utf8) {
  const std::wstring text = widen(utf8);
  if (windowText(hwnd) == text) return false;
  ::SetWindowTextW(hwnd, text.c_str());
  return true;
}

void place(HWND hwnd, const RECT& r) {
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hwnd), reinterpret_cast<POINT*>(&now), 2);
  if (::EqualRect(&now, &r)) return;
  ::SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void setFont(HWND hwnd, HFONT font) {
  if (reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)) != font)
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void setStyleBits(HWND hwnd, LONG_PTR mask, LONG_PTR bits) {
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
  if ((style & mask) == bits) return;
  ::SetWindowLongPtrW(hwnd, GWL_STYLE, (style & ~mask) | bits);
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

}  // namespace

void FormWindow::render() {
  if (!hwnd_) return;
  rendering_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{rendering_};

  setText(hwnd_, form_.caption);
  for (Item& item : items_) renderControl(item);

  // Lines have no window: their containers repaint when any of them changed.
  std::vector<POINT> lines;
  for (const Control& control : form_.controls) {
    if (control.kind != ControlKind::Line) continue;
    const RECT r = pixelRect({control.rect.left, control.rect.top, 0, 0}, dpi_);
    const RECT end = pixelRect({control.rect.left + control.rect.width, control.rect.top + control.rect.height, 0, 0}, dpi_);
    lines.push_back({r.left, r.top});
    lines.push_back({end.left, end.top});
    lines.push_back({static_cast<LONG>(gdiColour(control.foreColor)), control.visible ? 1 : 0});
  }
  const bool changed = lines.size() != renderedLines_.size() ||
                       !std::equal(lines.begin(), lines.end(), renderedLines_.begin(), [](POINT a, POINT b) {
                         return a.x == b.x && a.y == b.y;
                       });
  if (changed) {
    renderedLines_ = std::move(lines);
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

void FormWindow::renderControl(Item& item) {
  if (!item.hwnd) return;
  const Control& control = controlOf(item);
  const HWND w = item.hwnd;

  const HFONT font = gdi_.font(control.font.name.empty() ? form_.font : control.font);
  RECT r = pixelRect(control.rect, dpi_);
  // Containers draw with the model's font themselves; a label measures its text in its own.
  if (control.kind != ControlKind::Frame && control.kind != ControlKind::PictureBox) setFont(w, font);
  switch (control.kind) {
    case ControlKind::Frame: {
      // A text or font change shows only when the frame paints itself again.
      const bool changed = setText(w, control.caption) || item.font != font ||
                           (::IsWindowEnabled(w) != FALSE) != control.enabled;
      item.font = font;
      if (changed) ::InvalidateRect(w, nullptr, TRUE);
      break;
    }
    case ControlKind::Label: {
      const bool oneLine = control.autoSize && control.alignment == Alignment::Left;
      const LONG_PTR align = control.alignment == Alignment::Right    ? SS_RIGHT
                             : control.alignment == Alignment::Centre ? SS_CENTER
                             : oneLine                                ? SS_LEFTNOWORDWRAP
                                                                      : SS_LEFT;
      setStyleBits(w, SS_TYPEMASK, align);
      setText(w, control.caption);
      if (control.autoSize) r = fittedToText(w, font, control, r);
      break;
    }
    case ControlKind::Button: {
      const LONG_PTR style = control.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      if ((::GetWindowLongPtrW(w, GWL_STYLE) & BS_TYPEMASK) != style)
        ::SendMessageW(w, BM_SETSTYLE, static_cast<WPARAM>(style), TRUE);
      setText(w, control.caption);
      break;
    }
    case ControlKind::OptionButton:
    case ControlKind::CheckBox: {
      setText(w, control.caption);
      const WPARAM state = control.value == 1 ? BST_CHECKED : control.value == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
      if (static_cast<WPARAM>(::SendMessageW(w, BM_GETCHECK, 0, 0)) != state) ::SendMessageW(w, BM_SETCHECK, state, 0);
      break;
    }
    case ControlKind::TextBox: setText(w, control.caption); break;
    default: break;
  }
  place(w, r);
  if ((::IsWindowEnabled(w) != FALSE) != control.enabled) ::EnableWindow(w, control.enabled);
  const bool visible = (::GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) != 0;
  if (visible != control.visible) ::ShowWindow(w, control.visible ? SW_SHOWNA : SW_HIDE);

  const COLORREF fore = gdiColour(control.foreColor), back = gdiColour(control.backColor);
  if (fore != item.fore || back != item.back) {
    item.fore = fore;
    item.back = back;
    ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

void FormWindow::applyFocus() {
  if (form_.focus.empty() || !shown_) return;
  const std::string name = std::move(form_.focus);
  form_.focus.clear();
  if (Item* item = itemNamed(name); item && item->hwnd && usable(controlOf(*item))) focusControl(item->hwnd);
}

RECT FormWindow::fittedToText(HWND label, HFONT font, const Control& control, const RECT& design) const {
  const std::wstring text = widen(control.caption);
  RECT extent{};
  const HDC dc = ::GetDC(label);
  const HGDIOBJ old = ::SelectObject(dc, font);
  // Measured as the label draws it: access-key marks take no room, tabs expand.
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS);
  ::SelectObject(dc, old);
  ::ReleaseDC(label, dc);
  const LONG width = extent.right - extent.left;
  RECT r = design;
  r.bottom = r.top + (extent.bottom - extent.top);
  switch (control.alignment) {
    case Alignment::Left: r.right = r.left + width; break;
    case Alignment::Right: r.left = r.right - width; break;
    case Alignment::Centre:
      r.left = design.left + (design.right - design.left - width) / 2;
      r.right = r.left + width;
      break;
  }
  return r;
}

void FormWindow::paint(HWND hwnd, const Control* container) {
  PAINTSTRUCT ps{};
  const HDC dc = ::BeginPaint(hwnd, &ps);
  if (container && container->kind == ControlKind::Frame) paintFrame(dc, hwnd, *container);
  paintLines(dc, container ? container->name : std::string());
  ::EndPaint(hwnd, &ps);
}

// A frame draws its own etched border and caption on its background: a group box child would
// cover the container, which then never paints beneath it.
void FormWindow::paintFrame(HDC dc, HWND hwnd, const Control& frame) {
  RECT client{};
  ::GetClientRect(hwnd, &client);
  const HGDIOBJ old = ::SelectObject(dc, gdi_.font(frame.font.name.empty() ? form_.font : frame.font));
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  RECT edge = client;
  edge.top += metrics.tmHeight / 2;
  ::DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
  const std::wstring text = widen(frame.caption);
  if (!text.empty()) {
    RECT label{};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &label, DT_CALCRECT | DT_SINGLELINE);
    ::OffsetRect(&label, metrics.tmAveCharWidth, 0);
    RECT gap = label;
    ::InflateRect(&gap, 2, 0);
    ::FillRect(dc, &gap, gdi_.brush(gdiColour(frame.backColor)));
    ::SetBkMode(dc, TRANSPARENT);
    const bool enabled = ::IsWindowEnabled(hwnd) != FALSE;
    ::SetTextColor(dc, enabled ? gdiColour(frame.foreColor) : ::GetSysColor(COLOR_GRAYTEXT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &label, DT_SINGLELINE);
  }
  ::SelectObject(dc, old);
}

void FormWindow::paintLines(HDC dc, const std::string& container) {
  for (const Control& control : form_.controls) {
    if (control.kind != ControlKind::Line || !control.visible || control.container != container) continue;
    const HPEN pen = ::CreatePen(PS_SOLID, 1, gdiColour(control.foreColor));
    const HGDIOBJ old = ::SelectObject(dc, pen);
    const RECT from = pixelRect({control.rect.left, control.rect.top, 0, 0}, dpi_);
    const RECT to = pixelRect({control.rect.left + control.rect.width, control.rect.top + control.rect.height, 0, 0}, dpi_);
    ::MoveToEx(dc, from.left, from.top, nullptr);
    ::LineTo(dc, to.left, to.top);
    ::SelectObject(dc, old);
    ::DeleteObject(pen);
  }
}

LRESULT FormWindow::colours(HDC dc, HWND control) {
  Item* item = itemFor(control);
  if (!item) return ::DefWindowProcW(hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
  const Control& model = controlOf(*item);
  const COLORREF back = gdiColour(model.backColor);
  ::SetTextColor(dc, gdiColour(model.foreColor));
  ::SetBkColor(dc, back);
  return reinterpret_cast<LRESULT>(gdi_.brush(back));
}

}  // namespace quenvar::win32
