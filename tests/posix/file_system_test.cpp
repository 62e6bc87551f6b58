#include "platform/posix/posix_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "core/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

using testing::readAll;
using testing::TempFolder;

int errorNumber(const std::function<void()>& action) {
  try {
    action();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

size_t openDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<size_t>(std::distance(begin(fds), end(fds)));
}

TEST(PosixFileSystem, WritesBytesAsGivenAndClosesOnce) {
  TempFolder dir;
  PosixFileSystem fs;
  const std::string path = dir / "log.txt";
  const std::string bytes("caf\xC3\xA9\r\nzero\0byte\r\n", 17);
  const size_t descriptors = openDescriptors();

  auto file = fs.open(path, FileSystem::Mode::Append);
  file->write(bytes);
  file->close();
  file->close();
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_EQ(errorNumber([&] { file->write("late"); }), err::kPathFileAccess);
  fs.open(path, FileSystem::Mode::Append)->write("more");  // its destructor closes it
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_EQ(readAll(path), bytes + "more");

  fs.open(path, FileSystem::Mode::Truncate)->write("new");
  EXPECT_EQ(readAll(path), "new");
}

TEST(PosixFileSystem, TellsFilesFromOtherEntries) {
  TempFolder dir;
  PosixFileSystem fs;
  testing::writeAll(dir / "file", "x");
  ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "dangling").c_str()), 0);

  EXPECT_TRUE(fs.fileExists(dir / "file"));
  EXPECT_FALSE(fs.fileExists(dir.path()));
  EXPECT_FALSE(fs.fileExists(dir / "dangling"));
  EXPECT_TRUE(fs.exists(dir.path()));
  EXPECT_TRUE(fs.exists(dir / "dangling"));
  EXPECT_FALSE(fs.exists(dir / "missing"));
}

TEST(PosixFileSystem, FailuresCarryTheRuntimeNumbers) {
  TempFolder dir;
  PosixFileSystem fs;
  fs.createFolder(dir / "sub");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
  EXPECT_EQ(errorNumber([&] { fs.createFolder(dir / "sub"); }), err::kPathFileAccess);
  EXPECT_EQ(errorNumber([&] { fs.createFolder(dir / "no/parent"); }), err::kPathNotFound);

  testing::writeAll(dir / "sub/f", "x");
  fs.deleteFile(dir / "sub/f");
  EXPECT_FALSE(fs.exists(dir / "sub/f"));
  EXPECT_EQ(errorNumber([&] { fs.deleteFile(dir / "sub/f"); }), err::kFileNotFound);
  EXPECT_EQ(errorNumber([&] { fs.deleteFile(dir / "gone/f"); }), err::kPathNotFound);

  EXPECT_EQ(errorNumber([&] { fs.open(dir / "gone/f", FileSystem::Mode::Append); }), err::kPathNotFound);
  EXPECT_EQ(errorNumber([&] { fs.open(dir.path(), FileSystem::Mode::Truncate); }), err::kPathFileAccess);
  EXPECT_EQ(errorNumber([&] { fs.open("", FileSystem::Mode::Append); }), err::kBadFileName);
  if (::geteuid() != 0) {  // root writes through any permission
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    EXPECT_EQ(errorNumber([&] { fs.open(dir / "f", FileSystem::Mode::Append); }), err::kPermissionDenied);
  }
}

TEST(PosixFileSystem, CurrentDirectoryOfAnyLength) {
  TempFolder dir;
  std::string deep = dir.path();
  for (char c = 'a'; c < 'm'; ++c) deep += "/" + std::string(60, c);
  std::filesystem::create_directories(deep);
  const auto original = std::filesystem::current_path();
  ASSERT_EQ(::chdir(deep.c_str()), 0);
  const std::string reported = PosixFileSystem().currentDirectory();
  std::filesystem::current_path(original);
  EXPECT_EQ(reported, std::filesystem::canonical(deep).string());
}

}  // namespace
}  // namespace quenvar
