#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/posix_errors.h"

namespace quenvar {

namespace {

// The trace log opens, appends and closes once per traced call, so this stays a bare
// descriptor: no buffering layer, no calls beyond open/write/close, not even a copy of the path.
class PosixOpenFile : public OpenFile {
 public:
  explicit PosixOpenFile(int fd) : fd_(fd) {}
  ~PosixOpenFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixOpenFile(const PosixOpenFile&) = delete;
  PosixOpenFile& operator=(const PosixOpenFile&) = delete;

  void write(std::string_view text) override {
    if (fd_ < 0) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        posix::raiseErrno(errno);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }

  void close() override {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is gone whatever close reports (retrying could close a reused one);
    // a deferred write error still deserves to be seen.
    if (::close(fd) != 0 && errno != EINTR) posix::raiseErrno(errno);
  }

 private:
  int fd_;
};

}  // namespace

bool PosixFileSystem::fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFileSystem::exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void PosixFileSystem::createFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) posix::raisePathError(errno, path);
}

void PosixFileSystem::deleteFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) posix::raisePathError(errno, path);
}

std::unique_ptr<OpenFile> PosixFileSystem::open(const std::string& path, Mode mode) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Append ? O_APPEND : O_TRUNC);
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) posix::raisePathError(errno, path);
  try {
    return std::make_unique<PosixOpenFile>(fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

std::string PosixFileSystem::currentDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) posix::raiseErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

}  // namespace quenvar
