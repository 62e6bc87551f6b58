#include "platform/win32/win32_file_system.h"

#include <algorithm>

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

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesW(win32::widen(path).c_str()); }

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
  const bool append = mode == Mode::Append;
  const HANDLE handle = ::CreateFileW(win32::widen(path).c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) win32::raisePathError(::GetLastError(), path);
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
