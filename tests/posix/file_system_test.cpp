#include "platform/posix/posix_file_system.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

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

  auto replaced = fs.open(path, FileSystem::Mode::Replace);
  replaced->write("new");
  EXPECT_EQ(readAll(path), bytes + "more") << "the old content until the close";
  replaced->close();
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
  EXPECT_EQ(errorNumber([&] { fs.open(dir.path(), FileSystem::Mode::Replace); }), err::kPathFileAccess);
  EXPECT_EQ(errorNumber([&] { fs.open("", FileSystem::Mode::Append); }), err::kBadFileName);
  if (::geteuid() != 0) {  // root writes through any permission
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    EXPECT_EQ(errorNumber([&] { fs.open(dir / "f", FileSystem::Mode::Append); }), err::kPermissionDenied);
  }
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// In a child whose files may grow to 64 bytes, as on a full disk: the number of the failure.
int writeUnderSizeLimit(const std::string& path, FileSystem::Mode mode, const std::string& text) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing the writer
    const rlimit limit{64, 64};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(errorNumber([&] {
      auto file = PosixFileSystem().open(path, mode);
      file->write(text);
      file->close();
    }));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another user may plant links or a FIFO in a shared log folder; a full disk may cut a write
// short. Neither may reach a file other than the log, nor leave a log half written.
TEST(PosixFileSystem, LogsAreNeitherReachedThroughLinksNorLeftHalfWritten) {
  using Mode = FileSystem::Mode;
  const std::string report(248, 'r');
  struct Case {
    const char* name;
    Mode mode;
    std::function<void(const TempFolder&)> plant;
    int error;                  // of the open, or of the whole write in the child
    bool underSizeLimit = false;
  };
  const auto linkToVictim = [](const TempFolder& d) { ::symlink((d / "victim").c_str(), (d / "log").c_str()); };
  const Case cases[] = {
      {"Error.log linked to another file", Mode::Replace, linkToVictim, err::kPathFileAccess},
      {"Trace.log linked to another file", Mode::Append, linkToVictim, err::kPathFileAccess},
      {"link to a file not there yet", Mode::Append,
       [](const TempFolder& d) { ::symlink((d / "planted").c_str(), (d / "log").c_str()); }, err::kPathFileAccess},
      {"FIFO nobody reads", Mode::Replace, [](const TempFolder& d) { ::mkfifo((d / "log").c_str(), 0666); },
       err::kPathFileAccess},
      {"FIFO nobody reads, appended", Mode::Append, [](const TempFolder& d) { ::mkfifo((d / "log").c_str(), 0666); },
       err::kPathFileAccess},
      {"disk full while replacing", Mode::Replace, [](const TempFolder& d) { testing::writeAll(d / "log", "old\r\n"); },
       err::kPathFileAccess, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    testing::writeAll(dir / "victim", "victim's own\n");
    c.plant(dir);
    const auto before = namesIn(dir.path());
    const std::string old = std::filesystem::is_regular_file(dir / "log") ? readAll(dir / "log") : "";
    const size_t descriptors = openDescriptors();
    if (c.underSizeLimit) {
      EXPECT_EQ(writeUnderSizeLimit(dir / "log", c.mode, report), c.error);
      EXPECT_EQ(readAll(dir / "log"), old);
    } else {
      EXPECT_EQ(errorNumber([&] { PosixFileSystem().open(dir / "log", c.mode); }), c.error);
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_EQ(readAll(dir / "victim"), "victim's own\n");
    EXPECT_EQ(namesIn(dir.path()), before) << "nothing created, nothing left behind";
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
