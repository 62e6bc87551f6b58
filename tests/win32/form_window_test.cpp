#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "form_test_support.h"
#include "platform/win32/window_system_win32.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

using namespace std::chrono_literals;
using testing::childWithText;
using testing::SampleForm;
using testing::textOf;
using testing::User;
using testing::waitFor;

std::string uniqueCaption(const std::string& what) {
  return "Quenvar form " + what + " " + std::to_string(::GetCurrentProcessId());
}

bool displayAvailable() { return !testing::runningUnderWine() || !testing::environment(L"DISPLAY").empty(); }

struct ScreenDpi {
  int x = 0, y = 0;
  ScreenDpi() {
    const HDC screen = ::GetDC(nullptr);
    x = ::GetDeviceCaps(screen, LOGPIXELSX);
    y = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  int px(int twips) const { return static_cast<int>(std::lround(twips * x / 1440.0)); }
  int py(int twips) const { return static_cast<int>(std::lround(twips * y / 1440.0)); }
};

RECT placement(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void expectPlaced(HWND hwnd, const Twips& t, const ScreenDpi& dpi, const std::string& what) {
  ASSERT_NE(hwnd, nullptr) << what;
  const RECT r = placement(hwnd);
  EXPECT_EQ(r.left, dpi.px(t.left)) << what;
  EXPECT_EQ(r.top, dpi.py(t.top)) << what;
  EXPECT_EQ(r.right - r.left, dpi.px(t.width)) << what;
  EXPECT_EQ(r.bottom - r.top, dpi.py(t.height)) << what;
}

void expectFont(HWND hwnd, const char* face, double points, bool bold, const ScreenDpi& dpi) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
  ASSERT_NE(handle, nullptr) << face;
  ASSERT_NE(::GetObjectW(handle, sizeof font, &font), 0);
  EXPECT_EQ(win32::narrow(font.lfFaceName), face);
  EXPECT_EQ(font.lfHeight, -std::lround(points * dpi.y / 72.0)) << face;
  EXPECT_EQ(font.lfWeight >= FW_BOLD, bold) << face;
}

HWND focusOf(HWND form) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(form, nullptr), &info);
  return info.hwndFocus;
}

bool statusIs(HWND form, const std::string& text) {
  return waitFor([&] { return textOf(childWithText(form, text)) == text; });
}

void skipWithoutDisplay() {
  if (!displayAvailable()) GTEST_SKIP() << "no display";
}

void putOnClipboard(const std::wstring& text) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(::GlobalLock(memory)));
  ::GlobalUnlock(memory);
  ::SetClipboardData(CF_UNICODETEXT, memory);
  ::CloseClipboard();
}

// Everything that changes text without the key handlers seeing it, sent to one text box.
void tryToChange(HWND edit) {
  ::PostMessageW(edit, EM_SETSEL, 0, 3);
  ::PostMessageW(edit, WM_KEYDOWN, VK_DELETE, 1);
  ::PostMessageW(edit, WM_CHAR, 'z', 1);
  ::PostMessageW(edit, WM_CHAR, VK_BACK, 1);
  ::PostMessageW(edit, WM_PASTE, 0, 0);
  ::PostMessageW(edit, WM_CUT, 0, 0);
  ::PostMessageW(edit, WM_CLEAR, 0, 0);
  ::PostMessageW(edit, WM_UNDO, 0, 0);
}

TEST(Win32FormHeadless, RefusesAtOnceWithoutADisplay) {
  if (!testing::runningUnderWine() || !testing::environment(L"DISPLAY").empty())
    GTEST_SKIP() << "needs Wine without a display";
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("headless"), windows);
  const auto started = std::chrono::steady_clock::now();
  try {
    windows.showModal(form);
    ADD_FAILURE() << "showModal returned";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kInvalidCall);
    EXPECT_EQ(e.description(), "No window system is available to show the dialog");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_TRUE(form.events.empty());
  EXPECT_EQ(::FindWindowW(L"QuenvarForm", nullptr), nullptr);
}

TEST(Win32FormOnScreen, RendersEveryKindOfControlAtItsDesignPlace) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("render"), windows);
  const std::vector<Control> design = form.controls;
  const ScreenDpi dpi;
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    RECT client{};
    ::GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, dpi.px(6000));
    EXPECT_EQ(client.bottom, dpi.py(4500));
    EXPECT_TRUE(::GetWindowLongW(hwnd, GWL_STYLE) & WS_THICKFRAME);
    for (const Control& c : design) {
      if (c.caption.empty() || c.kind == ControlKind::Frame || c.autoSize) continue;
      const HWND child = childWithText(hwnd, c.caption);
      expectPlaced(child, c.rect, dpi, c.name);
      EXPECT_EQ(::IsWindowVisible(child) != FALSE, c.visible) << c.name;
      EXPECT_EQ(::IsWindowEnabled(child) != FALSE, c.enabled) << c.name;
    }
    const HWND inside = childWithText(hwnd, "&Inside");
    const HWND picture = ::GetParent(inside);
    expectPlaced(picture, {90, 450, 2400, 1500}, dpi, "picBox");
    const HWND options = ::GetParent(childWithText(hwnd, "Opt &B"));
    expectPlaced(options, {2700, 450, 3000, 1200}, dpi, "frmOpts");
    EXPECT_EQ(childWithText(hwnd, "Options"), options);
    EXPECT_EQ(::GetParent(picture), hwnd);

    expectFont(childWithText(hwnd, "&Title"), "Verdana", 12, true, dpi);
    expectFont(childWithText(hwnd, "&OK"), "Tahoma", 8.25, false, dpi);
    EXPECT_EQ(::GetWindowLongW(childWithText(hwnd, "&Title"), GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    EXPECT_EQ(::GetWindowLongW(childWithText(hwnd, "&OK"), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(::GetWindowLongW(childWithText(hwnd, "Cancel"), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    const HWND pane = childWithText(hwnd, "locked\r\ntext");
    EXPECT_EQ(::GetWindowLongW(pane, GWL_STYLE) & (ES_MULTILINE | WS_HSCROLL | WS_VSCROLL),
              ES_MULTILINE | WS_HSCROLL | WS_VSCROLL);
    EXPECT_TRUE(::GetWindowLongW(pane, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(::SendMessageW(childWithText(hwnd, "Opt &A"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(focusOf(hwnd), childWithText(hwnd, "&OK")) << "the lowest tab index";

    // The picture box's colour, and its line drawn across it in the line's colour.
    ::RedrawWindow(picture, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const HDC dc = ::GetDC(picture);
    EXPECT_EQ(::GetPixel(dc, dpi.px(2000), dpi.py(900)), RGB(0, 0, 255));
    EXPECT_EQ(::GetPixel(dc, dpi.px(2000), dpi.py(1200)), RGB(128, 128, 128));
    ::ReleaseDC(picture, dc);
  });
  windows.showModal(form);
  user.join();
  ASSERT_GE(form.events.size(), 2u);
  EXPECT_EQ(form.events[0], "resize 6000x4500");
  EXPECT_EQ(form.events[1], "activate 1");
  EXPECT_EQ(form.events.back(), "close");
}

TEST(Win32FormOnScreen, AFrameDrawsItsBorderOnItsOwnBackground) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("frame"), windows);
  const ScreenDpi dpi;
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    const HWND frame = ::GetParent(childWithText(hwnd, "Opt &A"));
    ::RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    ::GetClientRect(frame, &client);
    const HDC dc = ::GetDC(frame);
    const int middle = client.bottom * 2 / 3;
    // Inside the border beside the options, between the border and the options, and to the
    // right of the caption: all the frame's colour.
    EXPECT_EQ(::GetPixel(dc, dpi.px(2000), middle), RGB(192, 224, 192));
    EXPECT_EQ(::GetPixel(dc, dpi.px(60), middle), RGB(192, 224, 192));
    EXPECT_EQ(::GetPixel(dc, client.right - 1 - dpi.px(30), 2), RGB(192, 224, 192));
    // The etched border: a shadow line with a highlight inside it.
    EXPECT_EQ(::GetPixel(dc, 0, middle), ::GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(::GetPixel(dc, 1, middle), ::GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(::GetPixel(dc, client.right - 2, middle), ::GetSysColor(COLOR_BTNSHADOW));
    ::ReleaseDC(frame, dc);
  });
  windows.showModal(form);
  user.join();
}

TEST(Win32FormOnScreen, LabelsSizedToTheirTextKeepTheEdgeTheirAlignmentNames) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("autosize"), windows);
  const std::vector<Control> design = form.controls;
  const ScreenDpi dpi;
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    for (const Control& c : design) {
      if (!c.autoSize) continue;
      const HWND label = childWithText(hwnd, c.caption);
      ASSERT_NE(label, nullptr) << c.name;
      // The caption on one line in the label's own font, its access-key mark taking no room.
      const std::wstring text = win32::widen(c.caption);
      RECT extent{};
      const HDC dc = ::GetDC(label);
      const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
      ::DrawTextW(dc, text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE);
      ::SelectObject(dc, old);
      ::ReleaseDC(label, dc);
      ASSERT_GT(extent.right, dpi.px(c.rect.width)) << c.name << ": the design must be too narrow";

      const RECT r = placement(label);
      EXPECT_EQ(r.right - r.left, extent.right) << c.name;
      EXPECT_EQ(r.bottom - r.top, extent.bottom) << c.name;
      EXPECT_EQ(r.top, dpi.py(c.rect.top)) << c.name;
      const int left = dpi.px(c.rect.left), right = left + dpi.px(c.rect.width);
      switch (c.alignment) {
        case Alignment::Left:
          EXPECT_EQ(r.left, left) << c.name;
          EXPECT_EQ(::GetWindowLongW(label, GWL_STYLE) & SS_TYPEMASK, SS_LEFTNOWORDWRAP) << c.name;
          break;
        case Alignment::Right:
          EXPECT_EQ(r.right, right) << c.name;
          EXPECT_EQ(::GetWindowLongW(label, GWL_STYLE) & SS_TYPEMASK, SS_RIGHT) << c.name;
          break;
        case Alignment::Centre: EXPECT_LE(std::abs((r.left + r.right) - (left + right)), 1) << c.name; break;
      }
    }
  });
  windows.showModal(form);
  user.join();
}

TEST(Win32FormOnScreen, ClicksRaiseEventsAndShowTheirChanges) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("clicks"), windows);
  User user(form.caption, [&](HWND hwnd) {
    // A click posted before the window has settled can be lost to its first activation.
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    const HWND flag = childWithText(hwnd, "&Flag");
    ::PostMessageW(flag, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitFor([&] { return ::SendMessageW(flag, BM_GETCHECK, 0, 0) == BST_CHECKED; }));

    const HWND a = childWithText(hwnd, "Opt &A"), b = childWithText(hwnd, "Opt &B"), c = childWithText(hwnd, "Opt &C");
    ::PostMessageW(b, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitFor([&] { return ::SendMessageW(b, BM_GETCHECK, 0, 0) == BST_CHECKED; }));
    EXPECT_EQ(::SendMessageW(a, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(::SendMessageW(c, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    const HWND inside = childWithText(hwnd, "&Inside");
    ::PostMessageW(inside, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitFor([&] { return textOf(inside) == "Done"; }));
    EXPECT_FALSE(::IsWindowVisible(flag));
  });
  windows.showModal(form);
  user.join();
  const std::vector<std::string> expected{"value chkFlag=1", "click chkFlag", "value opt(1)=1", "value opt(0)=0",
                                          "click opt(1)", "click cmdInside"};
  EXPECT_TRUE(std::search(form.events.begin(), form.events.end(), expected.begin(), expected.end()) !=
              form.events.end());
  EXPECT_EQ(form.control("opt(1)").value, 1);
  EXPECT_EQ(form.control("opt(0)").value, 0);
}

TEST(Win32FormOnScreen, KeyHandlersThatDiscardKeysKeepTheTextAsItIs) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("keys"), windows);
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    putOnClipboard(L"pasted");
    const HWND locked = childWithText(hwnd, "locked\r\ntext");
    const HWND normal = childWithText(hwnd, "normal");
    tryToChange(locked);
    tryToChange(normal);
    ::PostMessageW(normal, WM_CHAR, '!', 1);
    // Posted messages are handled in order: once the last edit shows, the pane had its turn.
    EXPECT_TRUE(waitFor([&] { return textOf(normal).find('!') != std::string::npos; }));
    EXPECT_EQ(textOf(locked), "locked\r\ntext");
    EXPECT_NE(textOf(normal), "normal");
    EXPECT_TRUE(statusIs(hwnd, "edit txtNormal=" + textOf(normal)));
  });
  windows.showModal(form);
  user.join();
  EXPECT_EQ(form.control("txtLocked").caption, "locked\r\ntext");
  EXPECT_TRUE(std::any_of(form.events.begin(), form.events.end(), [](const std::string& e) {
    return e.rfind("edit txtNormal=", 0) == 0 && e.find("pasted") != std::string::npos;
  }));
  EXPECT_TRUE(std::none_of(form.events.begin(), form.events.end(),
                           [](const std::string& e) { return e.rfind("edit txtLocked", 0) == 0; }));
}

TEST(Win32FormOnScreen, ResizingReportsTwipsAndMovesControls) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("resize"), windows);
  const ScreenDpi dpi;
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    RECT frame{};
    ::GetWindowRect(hwnd, &frame);
    ::SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left + 150, frame.bottom - frame.top + 75,
                   SWP_NOMOVE | SWP_NOZORDER);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const int w = static_cast<int>(std::lround(client.right * 1440.0 / dpi.x));
    const int h = static_cast<int>(std::lround(client.bottom * 1440.0 / dpi.y));
    EXPECT_GT(w, 6000);
    EXPECT_TRUE(statusIs(hwnd, "resize " + std::to_string(w) + "x" + std::to_string(h)));
    expectPlaced(childWithText(hwnd, "&OK"), {w - 3000, h - 600, 1200, 360}, dpi, "cmdOk");

    ::ShowWindowAsync(hwnd, SW_MINIMIZE);
    EXPECT_TRUE(statusIs(hwnd, "resize 0x0"));
    ::ShowWindowAsync(hwnd, SW_RESTORE);
    EXPECT_TRUE(statusIs(hwnd, "resize " + std::to_string(w) + "x" + std::to_string(h)));
    expectPlaced(childWithText(hwnd, "&OK"), {w - 3000, h - 600, 1200, 360}, dpi, "cmdOk restored");
  });
  windows.showModal(form);
  user.join();
}

TEST(Win32FormOnScreen, TabEnterEscAndAccessKeysFollowTheModel) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("keyboard"), windows);
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    const auto press = [&](UINT message, WPARAM key) { ::PostMessageW(focusOf(hwnd), message, key, 1); };
    press(WM_KEYDOWN, VK_TAB);
    EXPECT_TRUE(waitFor([&] { return focusOf(hwnd) == childWithText(hwnd, "&Inside"); }));
    press(WM_KEYDOWN, VK_TAB);
    EXPECT_TRUE(waitFor([&] { return focusOf(hwnd) == childWithText(hwnd, "normal"); }));
    press(WM_KEYDOWN, VK_RETURN);
    EXPECT_TRUE(statusIs(hwnd, "click cmdOk"));
    press(WM_KEYDOWN, VK_TAB);
    EXPECT_TRUE(waitFor([&] { return focusOf(hwnd) == childWithText(hwnd, "locked\r\ntext"); }));
    press(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_TRUE(statusIs(hwnd, "click cmdCancel"));
    press(WM_KEYDOWN, VK_RETURN);  // the default button, even from a multi-line box
    EXPECT_TRUE(statusIs(hwnd, "click cmdOk"));
    press(WM_SYSCHAR, 'i');
    EXPECT_TRUE(statusIs(hwnd, "click cmdInside"));
  });
  windows.showModal(form);
  user.join();
}

TEST(Win32FormOnScreen, AFormShownOverAnotherDisablesItAndReactivatesItOnce) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("outer"), windows);
  const ScreenDpi dpi;
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    ::PostMessageW(childWithText(hwnd, "&Nested"), BM_CLICK, 0, 0);
    HWND nested = nullptr;
    ASSERT_TRUE(waitFor([&] { return (nested = ::FindWindowW(L"QuenvarForm", win32::widen(form.caption + " nested").c_str())) != nullptr; }));
    EXPECT_TRUE(statusIs(nested, "activate 1"));
    const LONG fixed = ::GetWindowLongW(nested, GWL_STYLE);
    EXPECT_EQ(fixed & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CAPTION | WS_SYSMENU),
              WS_CAPTION | WS_SYSMENU);
    RECT client{};
    ::GetClientRect(nested, &client);
    EXPECT_EQ(client.right, dpi.px(6000));
    EXPECT_EQ(client.bottom, dpi.py(4500));
    EXPECT_FALSE(::IsWindowEnabled(hwnd));
    EXPECT_TRUE(::IsWindowEnabled(nested));
    ::PostMessageW(nested, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(statusIs(hwnd, "activate 2"));
    EXPECT_TRUE(::IsWindowEnabled(hwnd));
    EXPECT_FALSE(::IsWindow(nested));
  });
  windows.showModal(form);
  user.join();
  EXPECT_EQ(form.activations, 2);
}

// Only the component's own windows count: a message box closing, or the user switching to
// another program and back, is no activation of the form.
TEST(Win32FormOnScreen, MessageBoxesAndOtherWindowsDoNotReactivate) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("no-reactivation"), windows);
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    ::PostMessageW(childWithText(hwnd, "Box"), BM_CLICK, 0, 0);
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = ::FindWindowW(L"#32770", L"Sample box")) != nullptr; }));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitFor([&] { return !::IsWindow(box); }));

    const HWND other = ::CreateWindowExW(0, L"STATIC", L"another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                         200, 100, nullptr, nullptr, nullptr, nullptr);
    ::SetForegroundWindow(other);
    ::SetForegroundWindow(hwnd);
    ::DestroyWindow(other);
    EXPECT_TRUE(statusIs(hwnd, "click cmdBox"));
  });
  windows.showModal(form);
  user.join();
  EXPECT_EQ(form.activations, 1);
}

TEST(Win32FormOnScreen, AHandlersErrorClosesTheWindowAndIsRethrown) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("failing"), windows);
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    ::PostMessageW(childWithText(hwnd, "Fail"), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitFor([&] { return !::IsWindow(hwnd); }));
  });
  EXPECT_EQ(testing::errorNumber([&] { windows.showModal(form); }), 1234);
  EXPECT_EQ(::FindWindowW(L"QuenvarForm", win32::widen(form.caption).c_str()), nullptr);
  user.join();
  EXPECT_EQ(form.events.back(), "click cmdFail");
}

TEST(Win32FormOnScreen, TheCloseBoxRaisesClose) {
  skipWithoutDisplay();
  Win32WindowSystem windows;
  SampleForm form(uniqueCaption("closebox"), windows);
  form.control("cmdInside").caption = "not closed by the user's fallback";
  User user(form.caption, [&](HWND hwnd) {
    ASSERT_TRUE(statusIs(hwnd, "activate 1"));
    ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(waitFor([&] { return !::IsWindow(hwnd); }));
  });
  windows.showModal(form);
  user.join();
  EXPECT_EQ(std::count(form.events.begin(), form.events.end(), "close"), 1);
  EXPECT_FALSE(form.loaded);
}

}  // namespace
}  // namespace quenvar
