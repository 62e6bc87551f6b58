#include "platform/win32/module_info_win32.h"

#include <gtest/gtest.h>

#include "win32_test_support.h"

namespace quenvar {
namespace {

TEST(Win32ModuleInfo, SplitsWindowsPaths) {
  EXPECT_EQ(Win32ModuleInfo::folderOf("C:\\Program Files\\Quenvar\\Quenvar.dll"), "C:\\Program Files\\Quenvar");
  EXPECT_EQ(Win32ModuleInfo::nameOf("C:\\Program Files\\Quenvar\\Quenvar.dll"), "Quenvar");
  EXPECT_EQ(Win32ModuleInfo::folderOf("C:\\Quenvar.dll"), "C:");
  EXPECT_EQ(Win32ModuleInfo::folderOf("\\\\server\\share\\Quenvar.dll"), "\\\\server\\share");
  EXPECT_EQ(Win32ModuleInfo::nameOf("C:\\a.b\\my.tool.exe"), "my.tool");
  EXPECT_EQ(Win32ModuleInfo::nameOf("C:\\a.b\\noextension"), "noextension");
  EXPECT_EQ(Win32ModuleInfo::folderOf("bare.dll"), "");
}

// Linked into this program, the backend reports the program's own file.
TEST(Win32ModuleInfo, ThisProgramsFolderAndName) {
  Win32ModuleInfo module;
  wchar_t buffer[32768];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, 32768);
  ASSERT_GT(length, 0u);
  const std::string program = win32::narrow(std::wstring_view(buffer, length));
  std::cout << "Module folder " << module.folder() << ", name " << module.name() << "\n";
  EXPECT_EQ(module.name(), QUENVAR_TEST_PROGRAM_NAME);
  EXPECT_FALSE(module.folder().empty());
  EXPECT_NE(module.folder().back(), '\\');
  EXPECT_EQ(module.folder() + "\\" + module.name() + ".exe", program);
  const DWORD attributes = ::GetFileAttributesW(win32::widen(module.folder()).c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

}  // namespace
}  // namespace quenvar
