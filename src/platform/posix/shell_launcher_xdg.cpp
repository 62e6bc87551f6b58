#include "platform/posix/shell_launcher_xdg.h"

#include <cerrno>

#include "platform/posix/launcher_editor.h"

namespace quenvar {

int64_t XdgShellLauncher::open(const std::string& file, const std::string&, const std::string&) {
  const int error = spawnDetached({"xdg-open", file});
  if (error == 0) return kStarted;
  return error == ENOENT ? kFileNotFound : kOutOfResources;
}

}  // namespace quenvar
