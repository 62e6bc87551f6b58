#include "platform/win32/launcher_win32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "win32_test_support.h"

#include <tlhelp32.h>

namespace quenvar {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;


bool eventuallyExists(const std::string& path) {
  for (auto until = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < until;) {
    if (::GetFileAttributesW(win32::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// Ends the programs this process started under that name, so none outlives the test.
int endChildren(const wchar_t* name) {
  int ended = 0;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId() || ::lstrcmpiW(entry.szExeFile, name) != 0) continue;
    if (const HANDLE child = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      ::TerminateProcess(child, 0);
      ::WaitForSingleObject(child, 5000);
      ::CloseHandle(child);
      ++ended;
    }
  }
  ::CloseHandle(snapshot);
  return ended;
}

// This test program started again as the "editor": it records the command line it was given
// (see main), which must be the program, one blank and the path exactly as passed.
TEST(Win32Launcher, RunsTheProgramWithThePathAppendedAsIs) {
  TempFolder dir;
  const std::string record = dir / "command line.txt";
  ASSERT_TRUE(::SetEnvironmentVariableW(L"QUENVAR_LAUNCH_RECORD", win32::widen(record).c_str()));
  const std::string program = "\"" + win32::narrow(testing::ownProgram()) + "\" --record-command-line";
  const std::string path = dir / "Error log \xE2\x82\xAC.txt";

  Win32Launcher(program).openInEditor(path);
  ::SetEnvironmentVariableW(L"QUENVAR_LAUNCH_RECORD", nullptr);
  ASSERT_TRUE(eventuallyExists(record)) << "the program never ran";
  EXPECT_EQ(testing::readBytes(record), program + " " + path);
}

TEST(Win32Launcher, AProgramThatCannotStartRaisesFileNotFound) {
  TempFolder dir;
  try {
    Win32Launcher("quenvar-no-such-editor.exe").openInEditor(dir / "f.txt");
    ADD_FAILURE() << "nothing could have started";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
    EXPECT_EQ(e.description(), "File not found");
  }
}

// The image of a child of this process started under `name`, once there is one.
std::wstring childImage(const wchar_t* name) {
  for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(20ms)) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    wchar_t path[MAX_PATH * 2] = L"";
    DWORD size = MAX_PATH * 2;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !*path; more = ::Process32NextW(snapshot, &entry)) {
      if (entry.th32ParentProcessID != ::GetCurrentProcessId() || ::lstrcmpiW(entry.szExeFile, name) != 0) continue;
      const HANDLE child = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
      if (child && !::QueryFullProcessImageNameW(child, 0, path, &size)) *path = 0;
      if (child) ::CloseHandle(child);
    }
    ::CloseHandle(snapshot);
    if (*path) return path;
  }
  return L"(none started)";
}

// A notepad.exe planted in the current folder never runs: the one under the system's folder
// does (a 32-bit process on a 64-bit system sees it under another folder name).
TEST(Win32Launcher, StartsTheSystemEditorNeverOneInTheCurrentFolder) {
  TempFolder dir;
  ASSERT_TRUE(::CopyFileW(testing::ownProgram().c_str(), win32::widen(dir / "notepad.exe").c_str(), TRUE));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"QUENVAR_LAUNCH_RECORD", win32::widen(dir / "ran").c_str()));
  wchar_t original[MAX_PATH * 2], windows[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH * 2, original), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(win32::widen(dir.path()).c_str()));
  EXPECT_NO_THROW(Win32Launcher().openInEditor(dir / "Error.log"));
  ::SetCurrentDirectoryW(original);
  const std::wstring image = childImage(L"notepad.exe");
  ::SetEnvironmentVariableW(L"QUENVAR_LAUNCH_RECORD", nullptr);
  endChildren(L"notepad.exe");
  const int length = static_cast<int>(::GetWindowsDirectoryW(windows, MAX_PATH));
  EXPECT_EQ(::CompareStringOrdinal(image.c_str(), length, windows, length, TRUE), CSTR_EQUAL) << win32::narrow(image);
  EXPECT_EQ(::GetFileAttributesW(win32::widen(dir / "ran").c_str()), INVALID_FILE_ATTRIBUTES) << "the planted one ran";
}

// The plain-text editor itself starts, though without a display it may not get to show a window.
TEST(Win32Launcher, StartsThePlainTextEditorWithoutWaiting) {
  TempFolder dir;
  const std::string path = dir / "Error.log";
  testing::writeBytes(path, "report\r\n");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(Win32Launcher().openInEditor(path));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  std::this_thread::sleep_for(200ms);
  std::cout << "Editors still open and ended by the test: " << endChildren(L"notepad.exe") << "\n";
}

}  // namespace
}  // namespace quenvar
