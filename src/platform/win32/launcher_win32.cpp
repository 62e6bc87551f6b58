#include "platform/win32/launcher_win32.h"

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {
std::wstring folder(UINT(WINAPI* query)(LPWSTR, UINT)) {
  std::wstring path(MAX_PATH, L'\0');
  UINT length = query(path.data(), static_cast<UINT>(path.size()));
  if (length >= path.size()) {
    path.resize(length);
    length = query(path.data(), static_cast<UINT>(path.size()));
  }
  path.resize(length < path.size() ? length : 0);
  return path;
}
}  // namespace

std::string Win32Launcher::systemEditor() {
  std::wstring editor = folder(::GetSystemDirectoryW) + L"\\notepad.exe";
  if (::GetFileAttributesW(editor.c_str()) == INVALID_FILE_ATTRIBUTES)
    editor = folder(::GetWindowsDirectoryW) + L"\\notepad.exe";
  return "\"" + win32::narrow(editor) + "\"";
}

void Win32Launcher::openInEditor(const std::string& path) {
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring commandLine = win32::widen(program_ + " " + path);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
    throw AutomationError(err::kFileNotFound, "File not found");
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

}  // namespace quenvar
