#include "platform/posix/secret_store_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "quenvar/automation_error.h"
#include "platform/posix/errno_errors.h"
#include "platform/posix/file_system_posix.h"

namespace quenvar {

namespace {

bool validName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void checkNames(const std::string& app, const std::string& name) {
  if (!validName(app) || !validName(name)) throw AutomationError(err::kBadFileName, "Bad file name or number");
}

}  // namespace

std::string FileSecretStore::filePath(const std::string& app, const std::string& name) const {
  checkNames(app, name);
  return settings_.appFolder(app) + "/secrets/" + name;
}

std::optional<std::string> FileSecretStore::get(const std::string& app, const std::string& name) {
  const std::string path = filePath(app, name);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    posix::raisePathError(errno, path);
  }
  // Readable by others means it may have been read: refused rather than used.
  if ((st.st_mode & 077) != 0 || st.st_uid != ::getuid())
    throw AutomationError(err::kPermissionDenied, "Permission denied: " + path + " is readable by others");
  return posix::readPrivateFile(path);
}

void FileSecretStore::save(const std::string& app, const std::string& name, const std::string& secret) {
  const std::string path = filePath(app, name);
  posix::createPrivateFolders(path.substr(0, path.rfind('/')));
  posix::Replacement file(path, 0600, true);
  file.write(secret);
  file.commit();
}

void FileSecretStore::remove(const std::string& app, const std::string& name) {
  const std::string path = filePath(app, name);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) posix::raisePathError(errno, path);
}

}  // namespace quenvar
