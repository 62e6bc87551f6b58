#pragma once
// One form as a real window: its controls as child windows, the user's actions raised as the
// form's events, and the model rendered again after each of them. The modal loop around it
// lives in the window system.

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/win32/gdi_cache.h"
#include "platform/win32/twips.h"
#include "platform/win32/windows_api.h"

namespace quenvar::win32 {

class FormWindow {
 public:
  FormWindow(Form& form, Dpi dpi);
  ~FormWindow();
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  // Creates the window hidden, with its controls, centred on the screen's work area. False when
  // no window can be created at all (no display): nothing is left behind then.
  bool create();
  // Raises the first resize, shows the window, focuses the first control, raises activation.
  void show();
  void destroy();

  HWND hwnd() const { return hwnd_; }
  const Form& form() const { return form_; }
  // The form's pointer changed: asks the window under the pointer for its cursor again.
  void showPointer();
  // The form unloaded, a handler failed, or the window went away: the loop should end.
  bool finished() const { return closing_ || hwnd_ == nullptr; }
  std::exception_ptr failure() const { return failure_; }

  // Tab, Enter and Esc as the form's keyboard interface has them. True when consumed.
  bool preTranslate(const MSG& message);

  // Raised again on this form when a form shown over it has closed.
  static constexpr UINT kReactivate = WM_APP + 0x51;

 private:
  struct Item {
    size_t index = 0;
    HWND hwnd = nullptr;
    HFONT font = nullptr;  // a container's, which draws its caption itself
    WNDPROC editProc = nullptr;
    int id = 0;
    COLORREF fore = CLR_INVALID, back = CLR_INVALID;
  };

  void createControl(Item& item, HWND parent, bool startsGroup);
  HWND parentOf(const Control& control) const;
  Item* itemFor(HWND hwnd);
  Item* itemNamed(std::string_view name);
  const Control& controlOf(const Item& item) const { return form_.controls[item.index]; }
  bool usable(const Control& control) const;
  bool takesFocus(const Control& control) const;

  // Runs a handler; afterwards renders, moves the focus, or marks the window to close.
  void raise(const std::function<void(Form&)>& handler);
  void settle();
  void render();
  void renderControl(Item& item);
  void applyFocus();
  void raiseResize(int width, int height);

  void press(Item& item);
  void pressKind(bool defaultButton);
  void moveFocus(int direction);
  void focusControl(HWND hwnd);

  void paint(HWND hwnd, const Control* container);
  void paintFrame(HDC dc, HWND hwnd, const Control& frame);
  void paintLines(HDC dc, const std::string& container);
  RECT fittedToText(HWND label, HFONT font, const Control& control, const RECT& design) const;
  LRESULT colours(HDC dc, HWND control);

  LRESULT formMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT editMessage(Item& item, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK formProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK containerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static bool registerClasses();

  Form& form_;
  Dpi dpi_;
  GdiCache gdi_;
  HWND hwnd_ = nullptr;
  std::vector<Item> items_;
  bool shown_ = false;
  bool closing_ = false;
  bool rendering_ = false;
  bool passingChar_ = false;
  SIZE reported_{-1, -1};
  HWND savedFocus_ = nullptr;
  std::vector<POINT> renderedLines_;
  std::exception_ptr failure_;
};

}  // namespace quenvar::win32
