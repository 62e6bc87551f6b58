#include "platform/posix/posix_mail_services.h"

#include <cerrno>

#include "quenvar/automation_error.h"
#include "platform/posix/editor_launcher.h"

namespace quenvar {

int64_t XdgShellLauncher::open(const std::string& file, const std::string&, const std::string&) {
  const int error = spawnDetached({"xdg-open", file});
  if (error == 0) return kStarted;
  return error == ENOENT ? kFileNotFound : kOutOfResources;
}

}  // namespace quenvar
