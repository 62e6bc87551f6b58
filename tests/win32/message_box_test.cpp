#include "platform/win32/message_box_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "win32_test_support.h"

namespace quenvar {
namespace {

using namespace std::chrono_literals;

// Wine without a display answers at once, with neither button.
TEST(Win32MessageBoxHeadless, ReturnsAtOnceWithoutADisplay) {
  if (!testing::runningUnderWine() || !testing::environment(L"DISPLAY").empty())
    GTEST_SKIP() << "needs Wine without a display";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Win32MessageBox().show("text", "", MessageBoxService::kCritical), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

struct SeenBox {
  std::string title, text;
  bool hasCancel = false;
};

// Stands in for the user: finds the box on screen, notes what it shows, presses `button`.
class User {
 public:
  explicit User(int button)
      : thread_([this, button] {
          for (auto until = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < until;) {
            if (const HWND box = ::FindWindowW(L"#32770", nullptr)) {
              wchar_t buffer[512];
              const int titleLength = ::GetWindowTextW(box, buffer, 512);
              seen_.title = win32::narrow(std::wstring_view(buffer, static_cast<size_t>(titleLength)));
              const UINT textLength = ::GetDlgItemTextW(box, 0xFFFF, buffer, 512);
              seen_.text = win32::narrow(std::wstring_view(buffer, textLength));
              seen_.hasCancel = ::GetDlgItem(box, IDCANCEL) != nullptr;
              ::PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
              found_ = true;
              return;
            }
            std::this_thread::sleep_for(50ms);
          }
        }) {}
  ~User() {
    if (thread_.joinable()) thread_.join();
  }
  User(const User&) = delete;
  User& operator=(const User&) = delete;

  const SeenBox& seen() {
    if (thread_.joinable()) thread_.join();
    return seen_;
  }
  bool found() const { return found_; }

 private:
  SeenBox seen_;
  std::atomic<bool> found_{false};
  std::thread thread_;
};

// Run on its own by CTest on a virtual display.
TEST(Win32MessageBoxOnScreen, ShowsTextAndTitleAndReturnsTheButton) {
  if (testing::environment(L"DISPLAY").empty() && testing::runningUnderWine()) GTEST_SKIP() << "no display";
  {
    User user(IDOK);
    const int answer = Win32MessageBox().show("Line one\r\nLine two caf\xC3\xA9", "", MessageBoxService::kCritical);
    const SeenBox& seen = user.seen();
    ASSERT_TRUE(user.found()) << "no message box appeared";
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(seen.title, "Quenvar");
    EXPECT_EQ(seen.text, "Line one\r\nLine two caf\xC3\xA9");
    EXPECT_FALSE(seen.hasCancel);
  }
  {
    User user(IDCANCEL);
    const int answer = Win32MessageBox().show("Proceed?", "My Application", MB_OKCANCEL | MessageBoxService::kInformation);
    const SeenBox& seen = user.seen();
    ASSERT_TRUE(user.found()) << "no message box appeared";
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_EQ(seen.title, "My Application");
    EXPECT_EQ(seen.text, "Proceed?");
    EXPECT_TRUE(seen.hasCancel);
  }
}

}  // namespace
}  // namespace quenvar
