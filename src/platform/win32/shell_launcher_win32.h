#pragma once

#include <cstdint>
#include <string>

#include "platform/shell_launcher.h"

namespace quenvar {

class Win32ShellLauncher : public ShellLauncher {
 public:
  int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) override;
};

}  // namespace quenvar
