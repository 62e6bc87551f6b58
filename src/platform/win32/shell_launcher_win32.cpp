#include "platform/win32/shell_launcher_win32.h"

#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

#include <shellapi.h>

namespace quenvar {

int64_t Win32ShellLauncher::open(const std::string& file, const std::string& parameters, const std::string& folder) {
  const std::string ansiFile = win32::toAnsi(file);
  const std::string ansiParameters = win32::toAnsi(parameters);
  const std::string ansiFolder = win32::toAnsi(folder);
  const HINSTANCE result =
      ::ShellExecuteA(::GetDesktopWindow(), "Open", ansiFile.c_str(), parameters.empty() ? nullptr : ansiParameters.c_str(),
                      ansiFolder.c_str(), SW_SHOWNORMAL);
  return static_cast<int64_t>(reinterpret_cast<INT_PTR>(result));
}

}  // namespace quenvar
