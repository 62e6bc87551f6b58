#include "platform/posix/settings_store_ini.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/descriptor.h"
#include "platform/posix/ini_format.h"
#include "platform/posix/interrupted.h"
#include "platform/posix/errno_errors.h"
#include "platform/posix/file_system_posix.h"

namespace quenvar {

namespace {

bool validAppName(const std::string& app) {
  return !app.empty() && app != "." && app != ".." && app.find('/') == std::string::npos &&
         app.find('\0') == std::string::npos;
}

std::string homeFolder() {
  if (const char* home = ::getenv("HOME"); home != nullptr && *home != '\0') return home;
  std::vector<char> buffer(4096);
  struct passwd entry {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr && *result->pw_dir != '\0')
    return result->pw_dir;
  throw AutomationError(err::kPathNotFound, "Path not found");
}

// Replaced in one step, so a reader without the lock sees the old or the new whole.
void replaceFile(const std::string& path, std::string_view content) {
  posix::Replacement file(path, 0600, true);
  file.write(content);
  file.commit();
}

}  // namespace

std::string IniSettingsStore::appFolder(const std::string& app) const {
  std::string root;
  if (root_) {
    root = *root_;
  } else if (const char* xdg = ::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    root = xdg;  // a relative value is invalid and to be ignored
  } else {
    root = homeFolder() + "/.config";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root + "/" + app;
}

std::string IniSettingsStore::filePath(const std::string& app) const { return appFolder(app) + "/settings.ini"; }

std::optional<std::string> IniSettingsStore::get(const std::string& app, const std::string& section,
                                                 const std::string& key) {
  if (!validAppName(app)) return std::nullopt;
  return ini::find(posix::readPrivateFile(filePath(app)), section, key);
}

void IniSettingsStore::save(const std::string& app, const std::string& section, const std::string& key,
                            const std::string& value) {
  change(app, section, key, value);
}

void IniSettingsStore::remove(const std::string& app, const std::string& section, const std::string& key) {
  change(app, section, key, std::nullopt);
}

void IniSettingsStore::change(const std::string& app, const std::string& section, const std::string& key,
                              const std::optional<std::string>& value) {
  if (!validAppName(app)) throw AutomationError(err::kBadFileName, "Bad file name or number");
  const std::string folder = appFolder(app);
  const std::string path = folder + "/settings.ini";
  // Removing what is not there must not leave folders behind.
  if (!value && !ini::find(posix::readPrivateFile(path), section, key)) return;
  posix::createPrivateFolders(folder);

  // A separate lock file: the settings file itself is replaced, so a lock on it would not hold.
  const std::string lockPath = path + ".lock";
  const posix::Descriptor lock(
      posix::retryInterrupted([&] { return ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); }));
  if (!lock) posix::raisePathError(errno, lockPath);
  if (posix::retryInterrupted([&] { return ::flock(lock.get(), LOCK_EX); }) != 0) posix::raisePathError(errno, lockPath);

  // Re-read under the lock: another writer may have changed the file since any earlier read.
  if (const auto updated = ini::update(posix::readPrivateFile(path), section, key, value))
    replaceFile(path, *updated);
}  // closing the lock file releases the lock

}  // namespace quenvar
