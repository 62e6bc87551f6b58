#pragma once
// Real folders, files and registry keys for the Windows backend tests, removed afterwards.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "quenvar/automation_error.h"
#include "../error_number.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar::testing {

inline bool runningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A message-only window of its own class, which needs no display.
inline HWND messageWindow(WNDPROC proc, const wchar_t* className) {
  WNDCLASSW type{};
  type.lpfnWndProc = proc;
  type.hInstance = ::GetModuleHandleW(nullptr);
  type.lpszClassName = className;
  ::RegisterClassW(&type);
  return ::CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, type.hInstance, nullptr);
}

// This test program, to be started again in a role of its own.
inline std::wstring ownProgram() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

inline std::string environment(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
  return length == 0 || length >= 1024 ? std::string() : win32::narrow(std::wstring_view(buffer, length));
}

inline void removeTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(child);
      else ::DeleteFileW(child.c_str());
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(path.c_str());
}

// A fresh folder under the temporary folder; its name is not plain ASCII, so every path the
// tests hand to the backends goes through the UTF-8 conversion.
class TempFolder {
 public:
  TempFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring base(temp, length);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    static LONG counter = 0;
    wide_ = base + L"\\quenvar-t\u00EBst-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::InterlockedIncrement(&counter));
    if (!::CreateDirectoryW(wide_.c_str(), nullptr)) throw std::runtime_error("cannot create a temporary folder");
    path_ = win32::narrow(wide_);
  }
  ~TempFolder() { removeTree(wide_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::wstring wide_;
  std::string path_;
};

inline std::string readBytes(const std::string& path) {
  const HANDLE file = ::CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(unreadable)";
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) content.append(chunk, read);
  ::CloseHandle(file);
  return content;
}

inline void writeBytes(const std::string& path, const std::string& content) {
  const HANDLE file = ::CreateFileW(win32::widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  ::CloseHandle(file);
  ASSERT_EQ(written, content.size());
}

// The bytes the ANSI code page gives for UTF-8 text, computed with the system calls themselves.
inline std::string ansiBytesOf(const std::string& utf8) {
  const std::wstring wide = win32::widen(utf8);
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, out.data(), needed, nullptr, nullptr);
  return out;
}

}  // namespace quenvar::testing
