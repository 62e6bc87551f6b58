#pragma once
// A form with every kind of control for the window system's tests, and a user on another
// thread who finds its window and works it through messages as the input system would.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "quenvar/automation_error.h"
#include "platform/form.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"
#include "platform/window_system.h"

namespace quenvar::testing {

class SampleForm : public Form {
 public:
  SampleForm(std::string title, WindowSystem& windows) : windows_(windows) {
    caption = std::move(title);
    clientWidth = 6000;
    clientHeight = 4500;
    font = {"Tahoma", 8.25, false};
    sizable = true;
    loaded = true;
    const Font verdana{"Verdana", 12, true};
    auto add = [this](std::string name, ControlKind kind, std::string container, Twips rect, std::string text,
                      int tabIndex) -> Control& {
      Control& c = controls.emplace_back();
      c.name = std::move(name);
      c.kind = kind;
      c.container = std::move(container);
      c.rect = rect;
      c.caption = std::move(text);
      c.tabIndex = tabIndex;
      return c;
    };
    Control& heading = add("lblTitle", ControlKind::Label, "", {90, 75, 3000, 300}, "&Title", 5);
    heading.font = verdana;
    heading.foreColor = rgb(255, 0, 0);
    heading.alignment = Alignment::Centre;
    add("lblStatus", ControlKind::Label, "", {3200, 75, 2700, 300}, "", 14);
    add("picBox", ControlKind::PictureBox, "", {90, 450, 2400, 1500}, "", 6).backColor = rgb(128, 128, 128);
    add("cmdInside", ControlKind::Button, "picBox", {15, 15, 1200, 360}, "&Inside", 1);
    add("lineInside", ControlKind::Line, "picBox", {0, 900, 2400, 0}, "", -1).foreColor = rgb(0, 0, 255);
    add("frmOpts", ControlKind::Frame, "", {2700, 450, 3000, 1200}, "Options", 7).backColor = rgb(192, 224, 192);
    for (int i = 0; i < 3; ++i)
      add("opt(" + std::to_string(i) + ")", ControlKind::OptionButton, "frmOpts", {120, 240 + 300 * i, 1500, 270},
          std::string("Opt &") + char('A' + i), 8 + i)
          .value = i == 0 ? 1 : 0;
    add("chkFlag", ControlKind::CheckBox, "", {2700, 1800, 2000, 300}, "&Flag", 4);
    Control& normal = add("txtNormal", ControlKind::TextBox, "", {90, 2100, 2400, 300}, "normal", 2);
    normal.foreColor = kColourWindowText;
    normal.backColor = kColourWhite;
    add("txtLocked", ControlKind::TextBox, "", {2700, 2200, 3000, 1200}, "locked\r\ntext", 3).multiLine = true;
    Control& off = add("txtOff", ControlKind::TextBox, "", {90, 2500, 2400, 300}, "off", 15);
    off.backColor = kColourInactiveCaptionText;
    off.enabled = false;
    add("lblGone", ControlKind::Label, "", {90, 2900, 2400, 300}, "gone", -1).visible = false;
    // Designed far narrower than their text.
    const Alignment alignments[] = {Alignment::Left, Alignment::Right, Alignment::Centre};
    const char* const fitted[] = {"lblFitLeft", "lblFitRight", "lblFitCentre"};
    for (int i = 0; i < 3; ++i) {
      Control& fit = add(fitted[i], ControlKind::Label, "", {1800, 3050 + 270 * i, 300, 120},
                         std::string("Sized &to this text ") + char('1' + i) + ": ", -1);
      fit.alignment = alignments[i];
      fit.autoSize = true;
    }
    add("sock", ControlKind::Hidden, "", {10, 10, 10, 10}, "", -1);
    add("cmdOk", ControlKind::Button, "", {3000, 3900, 1200, 360}, "&OK", 0).isDefault = true;
    add("cmdCancel", ControlKind::Button, "", {4500, 3900, 1200, 360}, "Cancel", 11).isCancel = true;
    add("cmdNested", ControlKind::Button, "", {90, 3900, 1200, 360}, "&Nested", 12);
    add("cmdFail", ControlKind::Button, "", {1400, 3900, 1200, 360}, "Fail", 13);
    add("cmdBox", ControlKind::Button, "", {90, 3450, 1200, 360}, "Box", -1);
  }

  // What the handlers saw, in order; read once the form is closed.
  std::vector<std::string> events;
  int activations = 0;

  void onActivate() override {
    ++activations;
    note("activate " + std::to_string(activations));
  }
  void onResize(int32_t width, int32_t height) override {
    note("resize " + std::to_string(width) + "x" + std::to_string(height));
    // Keeps the default button at the bottom right, as a layout step would.
    if (width > 0) control("cmdOk").rect.left = width - 3000;
    if (height > 0) control("cmdOk").rect.top = height - 600;
  }
  void onClick(std::string_view name) override {
    note("click " + std::string(name));
    if (name == "cmdInside") {
      control("cmdInside").caption = "Done";
      control("chkFlag").visible = false;
    } else if (name == "cmdNested") {
      SampleForm nested(caption + " nested", windows_);
      nested.sizable = false;
      windows_.showModal(nested);
    } else if (name == "cmdBox") {
      ::MessageBoxW(nullptr, L"A note", L"Sample box", MB_OK);
    } else if (name == "cmdFail") {
      throw AutomationError(1234, "the handler failed");
    }
  }
  void onEdit(std::string_view name, const std::string& text) override {
    Form::onEdit(name, text);
    note("edit " + std::string(name) + "=" + text);
  }
  void onValue(std::string_view name, int value) override {
    Form::onValue(name, value);
    note("value " + std::string(name) + "=" + std::to_string(value));
  }
  void onKeyDown(std::string_view name, int& code) override { discardIfLocked(name, code); }
  void onKeyPress(std::string_view name, int& code) override { discardIfLocked(name, code); }
  void onKeyUp(std::string_view name, int& code) override { discardIfLocked(name, code); }
  void onClose() override {
    note("close");
    loaded = false;
  }

 private:
  void note(std::string event) {
    control("lblStatus").caption = event;
    events.push_back(std::move(event));
  }
  static void discardIfLocked(std::string_view name, int& code) {
    if (name == "txtLocked") code = 0;
  }

  WindowSystem& windows_;
};

inline std::string textOf(HWND hwnd) {
  wchar_t buffer[1024];
  const LRESULT length = ::SendMessageW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return win32::narrow(std::wstring_view(buffer, static_cast<size_t>(length)));
}

// Polls until `ready` holds; false after the time is up.
inline bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  for (auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ready();
}

// The user: waits for the window titled `caption`, runs `script` on it, and closes it if it is
// still there, so the show on the test's thread always returns.
class User {
 public:
  User(std::string caption, std::function<void(HWND)> script)
      : thread_([caption = win32::widen(caption), script = std::move(script)] {
          HWND form = nullptr;
          // Visible: the window has been shown, not just created.
          waitFor(
              [&] {
                form = ::FindWindowW(L"QuenvarForm", caption.c_str());
                return form && ::IsWindowVisible(form);
              },
              std::chrono::seconds(20));
          if (!form) {
            ADD_FAILURE() << "the form's window did not appear";
            return;
          }
          script(form);
          if (::IsWindow(form)) ::PostMessageW(form, WM_CLOSE, 0, 0);
        }) {}
  ~User() { join(); }
  User(const User&) = delete;
  User& operator=(const User&) = delete;
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

struct ChildSearch {
  std::string text;
  HWND found = nullptr;
};

inline BOOL CALLBACK matchChildText(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<ChildSearch*>(data);
  if (textOf(hwnd) != search->text) return TRUE;
  search->found = hwnd;
  return FALSE;
}

// A descendant of `parent` showing `text`.
inline HWND childWithText(HWND parent, const std::string& text) {
  ChildSearch search{text};
  ::EnumChildWindows(parent, &matchChildText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace quenvar::testing
