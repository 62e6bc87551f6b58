#include "platform/posix/outbox_store_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

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

void replace(int folder, const std::string& name, std::string_view bytes, bool durable) {
  posix::Replacement file(folder, name, 0600, durable);
  file.write(bytes);
  file.commit();
}

// A hint is rewritten where it stands: creating a file costs more than the rest of queueing a
// report on a file system that looks for an inode not freed lately (ext4 without a journal
// scans for one). A reader may meet it half written.
void overwrite(int folder, const std::string& name, std::string_view bytes, const std::string& path) {
  const Descriptor file(posix::retryInterrupted([&] {
    return ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  }));
  if (!file) {
    if (errno == ELOOP) posix::refusePermission(path, "is a link");
    posix::raisePathError(errno, path);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) posix::refusePermission(path, "is not an ordinary file");
  posix::writeAll(file.get(), bytes);
  if (posix::retryInterrupted([&] { return ::ftruncate(file.get(), static_cast<off_t>(bytes.size())); }) != 0)
    posix::raisePathError(errno, path);
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
    replace(rejected.get(), name_ + std::string(kReason), why, true);
    if (::renameat(folder_.get(), (name_ + std::string(kReport)).c_str(), rejected.get(),
                   (name_ + std::string(kReport)).c_str()) != 0)
      posix::raisePathError(errno, path_);
  }

 private:
  Descriptor folder_, file_;
  std::string name_, path_;
};

// The files of `folder` whose names end in `suffix`, ordinary ones only, in the order of their
// names; or, with `suffix` empty, every ordinary file that is none of ours: the temporaries.
std::vector<OutboxStore::Entry> filesIn(int folder, const std::string& path, std::string_view suffix,
                                        std::vector<struct stat>* stats = nullptr) {
  std::vector<OutboxStore::Entry> out;
  DIR* const dir = ::fdopendir(::dup(folder));
  if (dir == nullptr) posix::raisePathError(errno, path);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    const bool ours = endsWith(name, kReport) || endsWith(name, kState) || endsWith(name, kReason);
    if (suffix.empty() ? ours || name[0] == '.' : !endsWith(name, suffix)) continue;
    struct stat st {};
    if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    out.push_back({std::string(name.substr(0, name.size() - suffix.size())), static_cast<uint64_t>(st.st_size)});
    if (stats != nullptr) stats->push_back(st);
  }
  ::closedir(dir);
  if (stats == nullptr)
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return out;
}

// The project's `rejected` folder, or none.
Descriptor rejectedFolder(int project, const std::string& path) {
  Descriptor folder(posix::retryInterrupted(
      [&] { return ::openat(project, kRejected, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  if (!folder && errno != ENOENT) posix::raisePathError(errno, path + "/" + kRejected);
  return folder;
}

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
  if (!folder) return {};
  return filesIn(folder.get(), path, kReport);
}

std::vector<OutboxStore::Entry> PosixOutboxStore::listRejected(const std::string& project) {
  const std::string path = folderOf(project);
  const Descriptor folder = posix::openPrivateFolder(path);
  if (!folder) return {};
  const Descriptor rejected = rejectedFolder(folder.get(), path);
  if (!rejected) return {};
  return filesIn(rejected.get(), path + "/" + kRejected, kReport);
}

void PosixOutboxStore::removeRejected(const std::string& project, const std::string& name) {
  checkName(name);
  const std::string path = folderOf(project);
  const Descriptor folder = posix::openPrivateFolder(path);
  if (!folder) return;
  const Descriptor rejected = rejectedFolder(folder.get(), path);
  if (!rejected) return;
  for (const std::string_view suffix : {kReport, kReason})
    if (::unlinkat(rejected.get(), (name + std::string(suffix)).c_str(), 0) != 0 && errno != ENOENT)
      posix::raisePathError(errno, path + "/" + kRejected + "/" + name + std::string(suffix));
}

uint64_t PosixOutboxStore::sweep(const std::string& project, double seconds) {
  const std::string path = folderOf(project);
  const Descriptor folder = posix::openPrivateFolder(path);
  if (!folder) return 0;
  uint64_t young = 0;
  const auto sweepIn = [&](int in, const std::string& where) {
    std::vector<struct stat> stats;
    const std::vector<Entry> found = filesIn(in, where, "", &stats);
    const double now = static_cast<double>(::time(nullptr));
    for (size_t i = 0; i < found.size(); ++i) {
      if (now - static_cast<double>(stats[i].st_mtime) < seconds) young += found[i].bytes;
      else ::unlinkat(in, found[i].name.c_str(), 0);  // another sweeper may have been first
    }
  };
  sweepIn(folder.get(), path);
  if (const Descriptor rejected = rejectedFolder(folder.get(), path)) sweepIn(rejected.get(), path + "/" + kRejected);
  return young;
}

void PosixOutboxStore::put(const std::string& project, const std::string& name, std::string_view bytes) {
  checkName(name);
  replace(projectFolder(folderOf(project)).get(), name + std::string(kReport), bytes, false);
  unsynced_.put(project, name);
}

void PosixOutboxStore::sync(const std::string& project) {
  const std::string path = folderOf(project);
  const UnsyncedReports::Taken taken = unsynced_.take(project);
  const Descriptor folder = posix::openPrivateFolder(path);
  if (!folder) return;
  std::vector<std::string> names = taken.names;
  if (taken.everything)
    for (const Entry& entry : filesIn(folder.get(), path, kReport)) names.push_back(entry.name);
  const auto failed = [&](int error, const std::string& what) {
    unsynced_.giveBack(project, taken);
    posix::raisePathError(error, what);
  };
  for (const std::string& name : names) {
    const Descriptor file(posix::retryInterrupted([&] {
      return ::openat(folder.get(), (name + std::string(kReport)).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }));
    struct stat st {};
    // Gone (sent) or not a report any more: nothing of ours to keep.
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::fsync(file.get()) != 0) failed(errno, path + "/" + name + std::string(kReport));
  }
  if (::fsync(folder.get()) != 0) failed(errno, path);
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

void PosixOutboxStore::setState(const std::string& project, const std::string& key, std::string_view value,
                                bool durable) {
  checkName(key);
  const Descriptor folder = projectFolder(folderOf(project));
  if (durable) return replace(folder.get(), key + std::string(kState), value, true);
  overwrite(folder.get(), key + std::string(kState), value, folderOf(project) + "/" + key + std::string(kState));
}

std::vector<std::string> PosixOutboxStore::stateKeys(const std::string& project, const std::string& prefix) {
  const Descriptor folder = posix::openPrivateFolder(folderOf(project));
  if (!folder) return {};
  std::vector<std::string> keys;
  for (const auto& entry : filesIn(folder.get(), folderOf(project), kState))
    if (entry.name.starts_with(prefix)) keys.push_back(entry.name);
  return keys;
}

bool PosixOutboxStore::removeState(const std::string& project, const std::string& key) {
  checkName(key);
  const Descriptor folder = posix::openPrivateFolder(folderOf(project));
  if (!folder) return false;
  if (::unlinkat(folder.get(), (key + std::string(kState)).c_str(), 0) == 0) return true;
  if (errno != ENOENT) posix::raisePathError(errno, folderOf(project) + "/" + key + std::string(kState));
  return false;
}

}  // namespace quenvar
