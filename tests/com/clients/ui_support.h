#pragma once
// What the clients that play a user on real windows share: finding windows and controls of
// this process, pressing buttons, answering message boxes, and the user's mail settings.

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client_support.h"

namespace client {

// ---- what the user sees --------------------------------------------------------------------

inline std::wstring textOf(HWND w) {
  wchar_t buffer[4096];
  const LRESULT n = SendMessageW(w, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
  return std::wstring(buffer, static_cast<size_t>(n));
}

inline std::wstring longTextOf(HWND w) {
  std::wstring text(static_cast<size_t>(SendMessageW(w, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(SendMessageW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

inline std::wstring classOf(HWND w) {
  wchar_t name[64] = L"";
  GetClassNameW(w, name, 64);
  return name;
}

inline HWND topWindow(const wchar_t* caption, int seconds = 20) {
  for (int i = 0; i < seconds * 50; ++i) {
    HWND w = FindWindowW(nullptr, caption);
    DWORD pid = 0;
    if (w) GetWindowThreadProcessId(w, &pid);
    if (w && pid == GetCurrentProcessId() && IsWindowVisible(w)) return w;
    Sleep(20);
  }
  return nullptr;
}

inline bool gone(HWND w) {
  for (int i = 0; i < 250 && IsWindow(w) && IsWindowVisible(w); ++i) Sleep(20);
  return !IsWindow(w) || !IsWindowVisible(w);
}

inline BOOL CALLBACK collect(HWND w, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

inline std::vector<HWND> descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

// The child of `top` of this window class showing `text`.
inline HWND child(HWND top, const wchar_t* cls, const std::wstring& text) {
  for (HWND w : descendants(top))
    if (lstrcmpiW(classOf(w).c_str(), cls) == 0 && textOf(w) == text) return w;
  return nullptr;
}

// The edit boxes of `top`, from the top of the window down.
inline std::vector<HWND> edits(HWND top) {
  std::vector<std::pair<LONG, HWND>> found;
  for (HWND w : descendants(top))
    if (lstrcmpiW(classOf(w).c_str(), L"Edit") == 0) {
      RECT r;
      GetWindowRect(w, &r);
      found.emplace_back(r.top, w);
    }
  std::sort(found.begin(), found.end());
  std::vector<HWND> out;
  for (auto& [top_, w] : found) out.push_back(w);
  return out;
}

inline void press(HWND button) {
  if (button) SendMessageW(button, BM_CLICK, 0, 0);
}
// For a button whose handler shows a modal window: the press must not wait for it.
inline void pressLater(HWND button) {
  if (button) PostMessageW(button, BM_CLICK, 0, 0);
}

// Message boxes of this process, noted and answered with OK.
class BoxWatcher {
 public:
  BoxWatcher() : thread_([this] { watch(); }) {}
  ~BoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::wstring> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  void watch() {
    while (!stop_) {
      HWND box = FindWindowW(L"#32770", nullptr);
      DWORD pid = 0;
      if (box) GetWindowThreadProcessId(box, &pid);
      if (!box || pid != GetCurrentProcessId() || !IsWindowVisible(box)) {
        Sleep(20);
        continue;
      }
      wchar_t title[128], text[512];
      GetWindowTextW(box, title, 128);
      GetDlgItemTextW(box, 0xFFFF, text, 512);
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(std::wstring(title) + L": " + text);
      }
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      while (IsWindow(box) && !stop_) Sleep(10);
    }
  }
  std::mutex mutex_;
  std::vector<std::wstring> seen_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- the registry keys the settings dialog writes -------------------------------------------

inline std::wstring setting(const wchar_t* key) {
  wchar_t value[256] = L"";
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Palvenor\\ErrHandler", key,
                   RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return L"<none>";
  return value;
}

inline void clearSettings() {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Palvenor\\ErrHandler");
}

}  // namespace client
