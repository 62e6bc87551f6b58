#include "platform/posix/secret_store_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "quenvar/automation_error.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/errno_errors.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/interrupted.h"

namespace quenvar {

namespace {

using posix::Descriptor;

// Far above any password; a bigger file is not one of ours and is not read to its end.
constexpr size_t kLargestSecret = 64 * 1024;

bool validName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void checkNames(const std::string& app, const std::string& name) {
  if (!validName(app) || !validName(name)) throw AutomationError(err::kBadFileName, "Bad file name or number");
}

std::string readBounded(int fd, const std::string& path) {
  std::string content = posix::readUpTo(fd, kLargestSecret + 1, path);
  if (content.size() > kLargestSecret) posix::refusePermission(path, "is too large for a secret");
  return content;
}

// O_NONBLOCK: a FIFO planted under the name opens at once and is refused below, never read.
std::optional<std::string> readSecret(int folder, const std::string& name, const std::string& path) {
  Descriptor file(posix::retryInterrupted(
      [&] { return ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
  if (!file) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) posix::refusePermission(path, "is a link");
    posix::raisePathError(errno, path);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) posix::raisePathError(errno, path);
  if (!S_ISREG(st.st_mode)) posix::refusePermission(path, "is not an ordinary file");
  if (st.st_uid != ::getuid()) posix::refusePermission(path, "belongs to another user");
  // Readable by others means it may have been read: refused rather than used.
  if ((st.st_mode & 077) != 0) posix::refusePermission(path, "is readable by others");
  return readBounded(file.get(), path);
}

}  // namespace

std::string FileSecretStore::filePath(const std::string& app, const std::string& name) const {
  return folderPath(app, name) + "/" + name;
}

std::string FileSecretStore::folderPath(const std::string& app, const std::string& name) const {
  checkNames(app, name);
  return settings_.appFolder(app) + "/secrets";
}

std::optional<std::string> FileSecretStore::get(const std::string& app, const std::string& name) {
  const std::string folder = folderPath(app, name);
  const Descriptor secrets = posix::openPrivateFolder(folder);
  if (!secrets) return std::nullopt;
  return readSecret(secrets.get(), name, folder + "/" + name);
}

void FileSecretStore::save(const std::string& app, const std::string& name, const std::string& secret) {
  const std::string folder = folderPath(app, name);
  posix::createPrivateFolders(folder);
  const Descriptor secrets = posix::openPrivateFolder(folder);
  if (!secrets) posix::raisePathError(ENOENT, folder);  // removed again since it was made
  posix::Replacement file(secrets.get(), name, 0600, true);
  file.write(secret);
  file.commit();
}

void FileSecretStore::remove(const std::string& app, const std::string& name) {
  const std::string folder = folderPath(app, name);
  const Descriptor secrets = posix::openPrivateFolder(folder);
  if (!secrets) return;
  if (::unlinkat(secrets.get(), name.c_str(), 0) != 0 && errno != ENOENT)
    posix::raisePathError(errno, folder + "/" + name);
}

}  // namespace quenvar
