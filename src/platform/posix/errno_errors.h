#pragma once
// errno values as the automation errors a client already knows how to handle.

#include <string>

#include "quenvar/automation_error.h"

namespace quenvar::posix {

AutomationError errnoError(int error);
// For a failure on `path`: tells a missing file (53) from a missing folder on the way (76),
// and an empty name (52).
AutomationError pathError(int error, const std::string& path);

[[noreturn]] void raiseErrno(int error);
[[noreturn]] void raisePathError(int error, const std::string& path);

}  // namespace quenvar::posix
