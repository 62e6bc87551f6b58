#include "platform/posix/file_system_posix.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "quenvar/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

using testing::errorNumber;
using testing::namesIn;
using testing::readAll;
using testing::TempFolder;


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

// Another user may plant links or a FIFO in a shared log folder; a full disk (here a file-size
// limit) may cut a write short. Neither may reach another file nor leave a log half written.
TEST(PosixFileSystem, LogsAreNeitherReachedThroughLinksNorLeftHalfWritten) {
  using Mode = FileSystem::Mode;
  const struct {
    Mode mode;
    const char* linkTo;  // "log" planted as a link to this, or as a FIFO with "|" ("|<" with a reader)
    rlim_t sizeLimit;
  } cases[] = {{Mode::Replace, "victim", RLIM_INFINITY}, {Mode::Append, "victim", RLIM_INFINITY},
               {Mode::Append, "planted", RLIM_INFINITY}, {Mode::Replace, "|", RLIM_INFINITY},
               {Mode::Append, "|", RLIM_INFINITY},       {Mode::Replace, "|<", RLIM_INFINITY},
               {Mode::Append, "|<", RLIM_INFINITY},      {Mode::Replace, nullptr, 64}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode == Mode::Replace ? "Error.log " : "Trace.log ") + (c.linkTo ? c.linkTo : "full"));
    TempFolder dir;
    testing::writeAll(dir / "victim", "victim's own\n");
    if (!c.linkTo) testing::writeAll(dir / "log", "old\r\n");
    else if (*c.linkTo == '|') ::mkfifo((dir / "log").c_str(), 0666);
    else ::symlink((dir / c.linkTo).c_str(), (dir / "log").c_str());
    const bool withReader = c.linkTo && std::string(c.linkTo) == "|<";
    const int reader = withReader ? ::open((dir / "log").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    ASSERT_EQ(reader >= 0, withReader);
    const auto before = namesIn(dir.path());
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing the writer
      const rlimit limit{c.sizeLimit, c.sizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::_exit(errorNumber([&] {
        auto file = PosixFileSystem().open(dir / "log", c.mode);
        file->write(std::string(248, 'r'));
        file->close();
      }));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, err::kPathFileAccess);
    EXPECT_EQ(readAll(dir / "victim"), "victim's own\n");
    if (!c.linkTo) {
      EXPECT_EQ(readAll(dir / "log"), "old\r\n");
    }
    if (withReader) {
      char received[256];
      EXPECT_LE(::read(reader, received, sizeof received), 0) << "nothing sent to the reader";
      ::close(reader);
    }
    EXPECT_EQ(namesIn(dir.path()), before) << "nothing created, nothing left behind";
  }
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The report may hold what the old log's owner kept private: while it is written the new file
// is the user's alone, and only once complete does it get the old file's permissions, or what
// the umask gives a new file.
TEST(PosixFileSystem, ErrorLogIsPrivateUntilItTakesItsPlace) {
  const struct {
    const char* what;
    mode_t old;  // 0: no old log
    mode_t umask;
    mode_t final;
  } cases[] = {{"old log readable by all", 0644, 0, 0644},
               {"old log private", 0600, 0, 0600},
               {"first log", 0, 027, 0640}};
  struct UmaskRestored {
    mode_t old = ::umask(022);
    ~UmaskRestored() { ::umask(old); }
  } restored;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder dir;
    const std::string path = dir / "Error.log";
    if (c.old != 0) {
      testing::writeAll(path, "old\r\n");
      ASSERT_EQ(::chmod(path.c_str(), c.old), 0);
    }
    ::umask(c.umask);
    auto file = PosixFileSystem().open(path, FileSystem::Mode::Replace);
    file->write("report\r\n");
    std::vector<std::string> temporaries;
    for (const auto& name : namesIn(dir.path()))
      if (name.rfind("Error.log.", 0) == 0) temporaries.push_back(name);
    ASSERT_EQ(temporaries.size(), 1u);
    EXPECT_EQ(modeOf(dir / temporaries[0]), 0600u) << "while the report is written";
    file->close();
    EXPECT_EQ(modeOf(path), c.final);
    EXPECT_EQ(readAll(path), "report\r\n");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"Error.log"});
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
