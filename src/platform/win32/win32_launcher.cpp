#include "platform/win32/win32_launcher.h"

#include "core/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

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
