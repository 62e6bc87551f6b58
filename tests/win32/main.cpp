// GoogleTest's main, plus the one role this program plays for the launcher tests: a stand-in
// editor that writes the command line it was started with to the file named in
// QUENVAR_LAUNCH_RECORD, when asked to or when it runs as a copy named notepad.exe.

#include <gtest/gtest.h>

#include <string_view>

#include "platform/win32/utf.h"
#include "platform/win32/win32_backends.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

// This program's composition root: the Windows backends; no mail client automation, which is
// the DLL's.
Platform& defaultPlatform() {
  static Win32Backends backends;
  static NoMailClientAutomation noMailClient;
  static Platform platform = backends.platform(noMailClient);
  return platform;
}

}  // namespace quenvar

namespace {

int recordCommandLine() {
  wchar_t record[32768];
  const DWORD length = ::GetEnvironmentVariableW(L"QUENVAR_LAUNCH_RECORD", record, 32768);
  if (length == 0 || length >= 32768) return 2;
  const std::wstring target(record, length);
  const std::wstring partial = target + L".partial";
  const std::string text = quenvar::win32::narrow(::GetCommandLineW());
  const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const BOOL wrote = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  // Renamed into place whole, so the waiting test never reads half of it.
  return wrote && ::MoveFileW(partial.c_str(), target.c_str()) ? 0 : 4;
}

bool runsAsNotepad() {
  wchar_t path[32768];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
  const std::wstring_view name(path, length);
  return name.size() >= 12 && ::lstrcmpiW(path + length - 12, L"\\notepad.exe") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc >= 2 && std::string_view(argv[1]) == "--record-command-line") || runsAsNotepad())
    return recordCommandLine();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
