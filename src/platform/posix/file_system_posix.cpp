#include "platform/posix/file_system_posix.h"
#include "platform/posix/interrupted.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/posix/descriptor.h"
#include "platform/posix/errno_errors.h"

namespace quenvar {

namespace {

int openRetrying(const std::string& path, int flags, mode_t mode = 0) {
  return posix::retryInterrupted([&] { return ::open(path.c_str(), flags, mode); });
}

// A link where the file should be (another user's plant in a shared folder) is refused as the
// runtime refuses a file it may not use; O_NONBLOCK keeps a planted FIFO from hanging the open.
[[noreturn]] void refuse(int error, const std::string& path) {
  if (error == ELOOP) throw AutomationError(err::kPathFileAccess, "Path/File access error");
  posix::raisePathError(error, path);
}

constexpr int kNoFollow = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// The trace log opens, appends and closes once per traced call, so this stays a bare
// descriptor: no buffering layer, no calls beyond open, one fstat, write and close, not even a
// copy of the path.
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
    posix::writeAll(fd_, text);
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

class ReplacingFile : public OpenFile {
 public:
  // `permissions`: those the file has once it replaces the old one.
  ReplacingFile(const std::string& path, mode_t permissions) : file_(path, permissions, false) {}

  void write(std::string_view text) override {
    if (done_) throw AutomationError(err::kPathFileAccess, "Path/File access error");
    file_.write(text);
  }
  void close() override {
    if (done_) return;
    done_ = true;
    file_.commit();
  }

 private:
  posix::Replacement file_;
  bool done_ = false;
};

// What is there may be replaced only if it could have been rewritten in place: an ordinary
// file, reached without a link, that this user may write. Gives its permissions, if it is there.
std::optional<mode_t> replaceablePermissions(const std::string& path) {
  const int fd = openRetrying(path, O_WRONLY | kNoFollow);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;  // a missing folder is reported by the creation
    refuse(errno, path);
  }
  struct stat st {};
  const bool ordinary = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!ordinary) throw AutomationError(err::kPathFileAccess, "Path/File access error");
  return st.st_mode & 07777;
}

// What a new file gets from open's 0666. umask() cannot be read without setting it, for every
// thread at once; unreadable, the new file stays the user's alone.
mode_t permissionsOfNewFile() {
  constexpr mode_t kPrivate = 0600;
  const int fd = openRetrying("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kPrivate;
  char status[4096];  // the line is near the top
  size_t used = 0;
  while (used < sizeof status) {
    const ssize_t n = posix::retryInterrupted([&] { return ::read(fd, status + used, sizeof status - used); });
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  const std::string_view text(status, used);
  constexpr std::string_view kLine = "\nUmask:";
  const size_t at = text.find(kLine);
  if (at == std::string_view::npos) return kPrivate;
  const size_t digits = std::min(text.find_first_not_of(" \t", at + kLine.size()), text.size());
  unsigned mask = 0;
  const auto [end, error] = std::from_chars(text.data() + digits, text.data() + text.size(), mask, 8);
  if (error != std::errc() || end == text.data() + text.size() || *end != '\n' || mask > 0777) return kPrivate;
  return 0666 & ~static_cast<mode_t>(mask);
}

// A name beside `name` in `folder` that no one holds yet; O_EXCL never opens what another
// planted there. Private until it is complete.
int createBeside(int folder, const std::string& name, std::string& temporary) {
  static std::atomic<uint64_t> counter{
      static_cast<uint64_t>(::getpid()) << 32 ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t n = counter.fetch_add(0x9E3779B97F4A7C15ULL);
    temporary = name + '.';
    for (int i = 0; i < 6; ++i, n /= 62) temporary += kDigits[n % 62];
    const int fd = posix::retryInterrupted([&] {
      return ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

namespace posix {

// Missing and unreachable files read as empty: nothing has been saved yet.
std::string readPrivateFile(const std::string& path) {
  const Descriptor file(retryInterrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    raisePathError(errno, path);
  }
  std::string content;
  char chunk[65536];
  for (;;) {
    const ssize_t n = retryInterrupted([&] { return ::read(file.get(), chunk, sizeof chunk); });
    if (n == 0) break;
    if (n < 0) raisePathError(errno, path);
    content.append(chunk, static_cast<size_t>(n));
  }
  return content;
}

void createPrivateFolders(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) raisePathError(errno, prefix);
    if (slash == std::string::npos) break;
  }
}


void refusePermission(const std::string& path, const char* why) {
  throw AutomationError(err::kPermissionDenied, "Permission denied: " + path + " " + why);
}

Descriptor openPrivateFolder(const std::string& folder) {
  Descriptor fd(retryInterrupted([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  if (!fd) {
    const int error = errno;
    struct stat st {};
    if (error == ELOOP) refusePermission(folder, "is a link");
    // ENOTDIR also comes from a file higher up, which means nothing is there.
    if (error == ENOTDIR && ::lstat(folder.c_str(), &st) == 0) refusePermission(folder, "is not a folder");
    if (error == ENOENT || error == ENOTDIR) return fd;
    raisePathError(error, folder);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) raisePathError(errno, folder);
  if (st.st_uid != ::getuid()) refusePermission(folder, "belongs to another user");
  if ((st.st_mode & 022) != 0) refusePermission(folder, "is writable by others");
  return fd;
}

std::string readUpTo(int fd, size_t most, const std::string& path) {
  std::string content(most, '\0');
  size_t used = 0;
  while (used < content.size()) {
    const ssize_t n = retryInterrupted([&] { return ::read(fd, content.data() + used, content.size() - used); });
    if (n == 0) break;
    if (n < 0) raisePathError(errno, path);
    used += static_cast<size_t>(n);
  }
  content.resize(used);
  return content;
}

void writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = posix::retryInterrupted([&] { return ::write(fd, data.data(), data.size()); });
    if (n < 0) raiseErrno(errno);
    data.remove_prefix(static_cast<size_t>(n));
  }
}

Replacement::Replacement(std::string path, mode_t mode, bool durable)
    : Replacement(AT_FDCWD, std::move(path), mode, durable) {}

Replacement::Replacement(int folder, std::string name, mode_t mode, bool durable)
    : folder_(folder), name_(std::move(name)), mode_(mode), durable_(durable) {
  if (name_.empty()) raisePathError(ENOENT, name_);
  fd_ = createBeside(folder_, name_, temporary_);
  if (fd_ < 0) raisePathError(errno, name_);
}

Replacement::~Replacement() { discard(); }

void Replacement::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
  temporary_.clear();
}

void Replacement::write(std::string_view data) {
  if (fd_ < 0) throw AutomationError(err::kPathFileAccess, "Path/File access error");
  writeAll(fd_, data);
}

void Replacement::commit() {
  if (fd_ < 0) throw AutomationError(err::kPathFileAccess, "Path/File access error");
  try {
    if (::fchmod(fd_, mode_) != 0) raiseErrno(errno);
    if (durable_ && ::fsync(fd_) != 0) raiseErrno(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) raiseErrno(errno);
    if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) raisePathError(errno, name_);
  } catch (...) {
    discard();
    throw;
  }
  temporary_.clear();
  if (durable_) syncFolder();
}

// The rename itself lasts only once the folder is on disk; a failure here loses nothing yet.
void Replacement::syncFolder() const {
  if (folder_ != AT_FDCWD) {
    ::fsync(folder_);
    return;
  }
  const int folder = openRetrying(folderOf(name_), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

}  // namespace posix

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
  if (mode == Mode::Replace) {
    if (path.empty()) posix::raisePathError(ENOENT, path);
    const std::optional<mode_t> old = replaceablePermissions(path);
    return std::make_unique<ReplacingFile>(path, old ? *old : permissionsOfNewFile());
  }
  const int fd = openRetrying(path, O_WRONLY | O_CREAT | O_APPEND | kNoFollow, 0666);
  if (fd < 0) refuse(errno, path);
  // O_NONBLOCK opens a FIFO at once when something reads at its other end (a device too):
  // only an ordinary file is a log.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw AutomationError(err::kPathFileAccess, "Path/File access error");
  }
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
