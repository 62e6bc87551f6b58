#include "platform/posix/outbox_store_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "quenvar/automation_error.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/errno_errors.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/interrupted.h"

namespace quenvar {

namespace {

using posix::Descriptor;

// Reports and state each carry a suffix of their own; the temporaries a write leaves for a
// moment ("<name>.<suffix>.XXXXXX") carry neither.
constexpr std::string_view kReport = ".report", kState = ".state", kReason = ".reason";
constexpr const char* kRejected = "rejected";

bool validName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void checkName(const std::string& name) {
  if (!validName(name)) throw AutomationError(err::kBadFileName, "Bad file name or number");
}

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

// The project's folder, made for the user alone when missing.
Descriptor projectFolder(const std::string& path) {
  posix::createPrivateFolders(path);
  Descriptor folder = posix::openPrivateFolder(path);
  if (!folder) posix::raisePathError(ENOENT, path);  // removed again since it was made
  return folder;
}

void replace(int folder, const std::string& name, std::string_view bytes) {
  posix::Replacement file(folder, name, 0600, true);
  file.write(bytes);
  file.commit();
}

class PosixClaim : public OutboxStore::Claim {
 public:
  PosixClaim(Descriptor folder, Descriptor file, std::string name, std::string path)
      : folder_(std::move(folder)), file_(std::move(file)), name_(std::move(name)), path_(std::move(path)) {}

  std::string read(size_t most) override {
    if (::lseek(file_.get(), 0, SEEK_SET) != 0) posix::raisePathError(errno, path_);
    // Room for the file as it is, not for the limit: a buffer of the limit's size, zeroed for
    // every report sent, cost more than the send. One byte more tells whether it has grown.
    struct stat st {};
    if (::fstat(file_.get(), &st) != 0) posix::raisePathError(errno, path_);
    const size_t room = std::min(most, static_cast<size_t>(st.st_size) + 1);
    std::string bytes = posix::readUpTo(file_.get(), room, path_);
    if (bytes.size() == room && room < most) bytes += posix::readUpTo(file_.get(), most - room, path_);
    return bytes;
  }

  // Unlinked while the lock is held: no one else can have taken it meanwhile.
  void remove() override {
    if (::unlinkat(folder_.get(), (name_ + std::string(kReport)).c_str(), 0) != 0 && errno != ENOENT)
      posix::raisePathError(errno, path_);
  }

  void reject(const std::string& why) override {
    if (::mkdirat(folder_.get(), kRejected, 0700) != 0 && errno != EEXIST) posix::raisePathError(errno, path_);
    const Descriptor rejected(posix::retryInterrupted(
        [&] { return ::openat(folder_.get(), kRejected, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    if (!rejected) posix::raisePathError(errno, path_);
    replace(rejected.get(), name_ + std::string(kReason), why);
    if (::renameat(folder_.get(), (name_ + std::string(kReport)).c_str(), rejected.get(),
                   (name_ + std::string(kReport)).c_str()) != 0)
      posix::raisePathError(errno, path_);
  }

 private:
  Descriptor folder_, file_;
  std::string name_, path_;
};

}  // namespace

std::string PosixOutboxStore::folderOf(const std::string& project) const {
  checkName(project);
  std::string root;
  if (root_) {
    root = *root_;
  } else if (const char* state = ::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
    root = std::string(state) + "/quenvar/outbox";  // a relative value is to be ignored
  } else if (const char* home = ::getenv("HOME"); home != nullptr && home[0] == '/') {
    root = std::string(home) + "/.local/state/quenvar/outbox";
  } else {
    throw AutomationError(err::kPathNotFound, "Path not found");
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root + "/" + project;
}

std::vector<OutboxStore::Entry> PosixOutboxStore::list(const std::string& project) {
  const std::string path = folderOf(project);
  const Descriptor folder = posix::openPrivateFolder(path);
  std::vector<Entry> out;
  if (!folder) return out;
  DIR* const dir = ::fdopendir(::dup(folder.get()));
  if (dir == nullptr) posix::raisePathError(errno, path);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    struct stat st {};
    if (!endsWith(name, kReport) || ::fstatat(folder.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    out.push_back({std::string(name.substr(0, name.size() - kReport.size())), static_cast<uint64_t>(st.st_size)});
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return out;
}

void PosixOutboxStore::put(const std::string& project, const std::string& name, std::string_view bytes) {
  checkName(name);
  replace(projectFolder(folderOf(project)).get(), name + std::string(kReport), bytes);
}

std::unique_ptr<OutboxStore::Claim> PosixOutboxStore::claim(const std::string& project, const std::string& name) {
  checkName(name);
  const std::string path = folderOf(project) + "/" + name + std::string(kReport);
  Descriptor folder = posix::openPrivateFolder(folderOf(project));
  if (!folder) return nullptr;
  Descriptor file(posix::retryInterrupted([&] {
    return ::openat(folder.get(), (name + std::string(kReport)).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }));
  if (!file) {
    if (errno == ENOENT) return nullptr;
    if (errno == ELOOP) posix::refusePermission(path, "is a link");
    posix::raisePathError(errno, path);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) posix::refusePermission(path, "is not an ordinary file");
  if (posix::retryInterrupted([&] { return ::flock(file.get(), LOCK_EX | LOCK_NB); }) != 0) {
    if (errno == EWOULDBLOCK) return nullptr;
    posix::raisePathError(errno, path);
  }
  // Sent and removed by another between the open and the lock.
  if (::fstat(file.get(), &st) != 0 || st.st_nlink == 0) return nullptr;
  return std::make_unique<PosixClaim>(std::move(folder), std::move(file), name, path);
}

std::optional<std::string> PosixOutboxStore::state(const std::string& project, const std::string& key) {
  checkName(key);
  const std::string path = folderOf(project) + "/" + key + std::string(kState);
  const Descriptor folder = posix::openPrivateFolder(folderOf(project));
  if (!folder) return std::nullopt;
  const Descriptor file(posix::retryInterrupted(
      [&] { return ::openat(folder.get(), (key + std::string(kState)).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
  if (!file) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) posix::refusePermission(path, "is a link");
    posix::raisePathError(errno, path);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) posix::refusePermission(path, "is not an ordinary file");
  return posix::readUpTo(file.get(), 4096, path);
}

void PosixOutboxStore::setState(const std::string& project, const std::string& key, std::string_view value) {
  checkName(key);
  replace(projectFolder(folderOf(project)).get(), key + std::string(kState), value);
}

}  // namespace quenvar
