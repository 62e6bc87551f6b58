// The boxes ShowErrorLog puts on screen when a log is missing, as a user sees them, and that each
// call waits for its box. Needs a display (without one Wine answers at once and shows nothing), so
// it runs under Xvfb in a prefix no fixture reaches: argv[1] is the DLL, registered here.

#include <atomic>
#include <mutex>
#include <thread>

#include "client_support.h"

using namespace client;

namespace {

struct SeenBox {
  std::wstring title, text;
  bool onlyOk = false, icon = false;
};

// Stands in for the user: notes every message box of this process, then presses OK.
class User {
 public:
  User() : thread_([this] { watch(); }) {}
  ~User() {
    stop_ = true;
    thread_.join();
  }
  User(const User&) = delete;
  User& operator=(const User&) = delete;
  std::vector<SeenBox> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  void forget() {
    std::lock_guard lock(mutex_);
    seen_.clear();
  }

 private:
  struct Controls {
    std::vector<int> buttons;
    bool icon = false;
  };
  // Wine's boxes without an icon still hold a visible, empty icon control: only one holding an icon
  // counts. Hidden buttons are not offered to the user.
  static BOOL CALLBACK inspect(HWND child, LPARAM param) {
    auto& controls = *reinterpret_cast<Controls*>(param);
    wchar_t cls[32] = L"";
    GetClassNameW(child, cls, 32);
    if (!IsWindowVisible(child)) return TRUE;
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (lstrcmpiW(cls, L"Button") == 0) controls.buttons.push_back(GetDlgCtrlID(child));
    if (lstrcmpiW(cls, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && SendMessageW(child, STM_GETICON, 0, 0))
      controls.icon = true;
    return TRUE;
  }
  void watch() {
    while (!stop_) {
      const HWND box = FindWindowW(L"#32770", nullptr);
      DWORD pid = 0;
      if (box) GetWindowThreadProcessId(box, &pid);
      // Visible means the box has finished setting its title and text.
      if (!box || pid != GetCurrentProcessId() || !IsWindowVisible(box)) {
        Sleep(20);
        continue;
      }
      SeenBox seen;
      wchar_t buffer[512];
      seen.title.assign(buffer, static_cast<size_t>(GetWindowTextW(box, buffer, 512)));
      seen.text.assign(buffer, GetDlgItemTextW(box, 0xFFFF, buffer, 512));
      Controls controls;
      EnumChildWindows(box, inspect, reinterpret_cast<LPARAM>(&controls));
      seen.onlyOk = controls.buttons == std::vector<int>{IDOK};
      seen.icon = controls.icon;
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(seen);
      }
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      // Once per box: wait for it to go before looking again.
      while (IsWindow(box) && !stop_) Sleep(10);
    }
  }
  std::mutex mutex_;
  std::vector<SeenBox> seen_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void checkBox(const SeenBox& box, const wchar_t* title, const wchar_t* text) {
  CHECK_EQ(box.title, std::wstring(title));
  CHECK_EQ(box.text, std::wstring(text));
  CHECK(box.onlyOk);
  CHECK(!box.icon);
}

}  // namespace

int main(int argc, char** argv) {
  Apartment apartment;
  if (!registerServer(argc > 1 ? argv[1] : nullptr)) {
    fail(__FILE__, __LINE__, "registering the DLL given as the first argument");
    return finish("message_boxes");
  }

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = temp + std::wstring(L"quenvar-boxes-") + std::to_wstring(GetCurrentProcessId());
  CHECK(CreateDirectoryW(folder.c_str(), nullptr));
  {
    User user;
    // The watcher must tell an icon and a second button apart, or the checks below prove nothing.
    CHECK_EQ(MessageBoxW(nullptr, L"calibration", L"Watcher", MB_OKCANCEL | MB_ICONINFORMATION), IDOK);
    auto seen = user.seen();
    CHECK_EQ(seen.size(), 1u);
    if (!seen.empty()) CHECK(seen[0].icon && !seen[0].onlyOk);
    user.forget();

    auto h = createHandler();
    if (!h) return finish("message_boxes");
    Bstr destination(folder.c_str());
    CHECK_EQ(h->put_Destination(destination.get()), S_OK);
    // A modal box: the call comes back only after the user's OK, so the box is already noted.
    CHECK_EQ(h->ShowErrorLog(1), S_OK);
    CHECK_EQ(user.seen().size(), 1u);
    CHECK_EQ(h->ShowErrorLog(2), S_OK);
    CHECK_EQ(user.seen().size(), 2u);
    CHECK_EQ(h->ShowErrorLog(3), S_OK);
    seen = user.seen();
    CHECK_EQ(seen.size(), 2u);
    if (seen.size() >= 2) {
      checkBox(seen[0], L"Error Log", L"Error Log not created");
      checkBox(seen[1], L"Trace Log", L"Trace Log not created");
    }
  }
  // Still empty: showing that a log is missing creates none.
  CHECK(RemoveDirectoryW(folder.c_str()));
  return finish("message_boxes");
}
