#include "platform/win32/file_system_win32.h"

#include <algorithm>
#include <cstdint>

#include "platform/win32/utf.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {

// The trace log opens, appends and closes once per traced call, so this holds the bare handle:
// no buffering, no copy of the path.
class Win32OpenFile : public OpenFile {
 public:
  explicit Win32OpenFile(HANDLE handle) : handle_(handle) {}
  ~Win32OpenFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Win32OpenFile(const Win32OpenFile&) = delete;
  Win32OpenFile& operator=(const Win32OpenFile&) = delete;

  void write(std::string_view text) override {
    if (handle_ == INVALID_HANDLE_VALUE) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    // Files are read by tools of the user's own code page.
    const std::string bytes = win32::toAnsi(text);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      const auto chunk = static_cast<DWORD>(std::min<size_t>(left, 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(handle_, p, chunk, &written, nullptr)) win32::raiseFileError(::GetLastError());
      p += written;
      left -= written;
    }
  }

  void close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) win32::raiseFileError(::GetLastError());
  }

 private:
  HANDLE handle_;
};

// A replacement written beside the file and moved over it on close: readers see the old content
// or the new one whole, and a write that fails (a full disk) leaves the old one as it was.
class Win32ReplacingFile : public OpenFile {
 public:
  Win32ReplacingFile(HANDLE handle, std::wstring temporary, std::wstring path)
      : file_(std::make_unique<Win32OpenFile>(handle)), temporary_(std::move(temporary)), path_(std::move(path)) {}
  ~Win32ReplacingFile() override { discard(); }

  void write(std::string_view text) override {
    if (!file_) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    file_->write(text);
  }

  void close() override {
    if (!file_) return;
    try {
      file_->close();
      if (!::MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        win32::raiseFileError(::GetLastError());
    } catch (...) {
      discard();
      throw;
    }
    file_.reset();
    temporary_.clear();
  }

 private:
  void discard() {
    file_.reset();
    if (!temporary_.empty()) ::DeleteFileW(temporary_.c_str());
    temporary_.clear();
  }

  std::unique_ptr<Win32OpenFile> file_;
  std::wstring temporary_;
  std::wstring path_;
};

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesW(win32::widen(path).c_str()); }

// A link or junction where the log should be (another user's plant in a shared folder) is
// refused as a file that may not be used; the handle opened the link itself, not its target.
HANDLE refuseReparsePoint(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return handle;
  ::CloseHandle(handle);
  throw AutomationError(err::kPathFileAccess, "Path/File access error");
}

// What is there may be replaced only if it could have been rewritten in place.
void checkReplaceable(const std::wstring& path, const std::string& name) {
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return;  // a missing folder is reported by the creation
    win32::raisePathError(error, name);
  }
  ::CloseHandle(refuseReparsePoint(handle));
}

// A name beside `path` that no one holds yet; CREATE_NEW never opens what another planted there.
HANDLE createBeside(const std::wstring& path, std::wstring& name) {
  static LONG counter = static_cast<LONG>(::GetTickCount() ^ ::GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto n = static_cast<uint32_t>(::InterlockedIncrement(&counter)) * 2654435761u;
    name = path + L'.';
    for (int i = 0; i < 6; ++i, n /= 36) name += L"abcdefghijklmnopqrstuvwxyz0123456789"[n % 36];
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return handle;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool Win32FileSystem::fileExists(const std::string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

bool Win32FileSystem::exists(const std::string& path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

void Win32FileSystem::createFolder(const std::string& path) {
  if (!::CreateDirectoryW(win32::widen(path).c_str(), nullptr)) win32::raisePathError(::GetLastError(), path);
}

void Win32FileSystem::deleteFile(const std::string& path) {
  if (!::DeleteFileW(win32::widen(path).c_str())) win32::raisePathError(::GetLastError(), path);
}

std::unique_ptr<OpenFile> Win32FileSystem::open(const std::string& path, Mode mode) {
  if (path.empty()) win32::raisePathError(ERROR_INVALID_NAME, path);
  const std::wstring wide = win32::widen(path);
  if (mode == Mode::Replace) {
    checkReplaceable(wide, path);
    std::wstring temporary;
    const HANDLE handle = createBeside(wide, temporary);
    if (handle == INVALID_HANDLE_VALUE) win32::raisePathError(::GetLastError(), path);
    try {
      return std::make_unique<Win32ReplacingFile>(handle, temporary, wide);
    } catch (...) {
      ::CloseHandle(handle);
      ::DeleteFileW(temporary.c_str());
      throw;
    }
  }
  HANDLE handle = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) win32::raisePathError(::GetLastError(), path);
  handle = refuseReparsePoint(handle);
  try {
    return std::make_unique<Win32OpenFile>(handle);
  } catch (...) {
    ::CloseHandle(handle);
    throw;
  }
}

std::string Win32FileSystem::currentDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) win32::raiseFileError(::GetLastError());
    // Another thread may change it between the calls, so the size asked for is rechecked.
    if (length < buffer.size()) {
      buffer.resize(length);
      return win32::narrow(buffer);
    }
    buffer.resize(length);
  }
}

}  // namespace quenvar
