#pragma once

#include <cstdint>
#include <string>

#include "platform/shell_launcher.h"

namespace quenvar {

// The desktop's opener (xdg-open) for the link; parameters and folder mean nothing to it.
class XdgShellLauncher : public ShellLauncher {
 public:
  static constexpr int64_t kStarted = 33;
  static constexpr int64_t kFileNotFound = 2;
  static constexpr int64_t kOutOfResources = 0;
  int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) override;
};

}  // namespace quenvar
