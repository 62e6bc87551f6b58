#include "platform/win32/clipboard_win32.h"
#include "platform/win32/mouse_pointer_win32.h"
#include "platform/win32/network_win32.h"
#include "platform/win32/shell_launcher_win32.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "win32_test_support.h"

namespace quenvar {
namespace {

std::wstring clipboardText() {
  std::wstring text;
  if (!::OpenClipboard(nullptr)) return L"<not opened>";
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text = chars;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

TEST(Win32Clipboard, TheTextReadsBackAsUtf16) {
  Win32Clipboard clipboard;
  clipboard.setText("first");
  clipboard.setText("Fehler \xC3\xA4\xE2\x82\xAC\r\nline two");
  EXPECT_EQ(clipboardText(), L"Fehler \u00E4\u20AC\r\nline two");
}

// A client thread reading the clipboard holds it without a window: the copy waits for it and is
// refused in the end, never put in under it (Wine let one such open through while another held it).
TEST(Win32Clipboard, ACopyNeverGoesInWhileAnotherThreadHoldsTheClipboard) {
  Win32Clipboard clipboard;
  clipboard.setText("before");
  std::promise<bool> opened;
  std::promise<void> release;
  std::thread reader([&] {
    const bool open = ::OpenClipboard(nullptr);
    opened.set_value(open);
    release.get_future().wait();
    if (open) ::CloseClipboard();
  });
  ASSERT_TRUE(opened.get_future().get());
  EXPECT_EQ(testing::errorNumber([&] { clipboard.setText("during"); }), 521);
  release.set_value();
  reader.join();
  EXPECT_EQ(clipboardText(), L"before");
  clipboard.setText("after");
  EXPECT_EQ(clipboardText(), L"after");
}

TEST(Win32ShellLauncher, AMissingFileIsAFailure) {
  EXPECT_LE(Win32ShellLauncher().open("C:\\no such folder\\missing.qvx", "", "C:\\"), ShellLauncher::kLastFailure);
}

TEST(Win32ShellLauncher, AMailtoLinkStartsItsHandler) {
  const int64_t result = Win32ShellLauncher().open("mailto:ops@example.com?Subject=Quenvar%20test", "", "C:\\");
  EXPECT_GT(result, ShellLauncher::kLastFailure);
}

LRESULT CALLBACK textCursorWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message != WM_SETCURSOR) return ::DefWindowProcW(window, message, w, l);
  ::SetCursor(::LoadCursorA(nullptr, IDC_IBEAM));
  return TRUE;
}

TEST(Win32MousePointer, BusyHoldsOverTheThreadsWindowsUntilSetBack) {
  const HWND window = testing::messageWindow(textCursorWindow, L"QuenvarPointerTestWindow");
  ASSERT_NE(window, nullptr);
  // What a mouse move over the window makes the system ask.
  const auto moved = [&] {
    ::SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return ::GetCursor();
  };
  Win32MousePointer pointer;
  pointer.set(MousePointer::kBusy);
  EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_WAIT));
  EXPECT_EQ(moved(), ::LoadCursorA(nullptr, IDC_WAIT)) << "the window's own cursor gives way";
  pointer.set(MousePointer::kBusy);
  pointer.set(MousePointer::kDefault);
  EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(moved(), ::LoadCursorA(nullptr, IDC_IBEAM)) << "busy twice, released once";
  ::DestroyWindow(window);
}

TEST(Win32Network, GivesClosedSocketsOfItsOwn) {
  Win32Network network;
  auto a = network.openSocket(), b = network.openSocket();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(a->state(), Socket::State::Closed);
  EXPECT_GT(network.clock().seconds(), 0.0);
  EXPECT_FALSE(network.host().hostName().empty());
}

}  // namespace
}  // namespace quenvar
