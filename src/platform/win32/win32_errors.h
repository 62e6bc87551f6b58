#pragma once
// Windows error codes as the runtime errors a client already knows how to handle.

#include <string>

#include "quenvar/automation_error.h"

namespace quenvar::win32 {

// `code` is a GetLastError value.
AutomationError fileError(unsigned long code);
// For a failure on `path`: also tells an empty name (52) and a folder refused as a file (75).
AutomationError pathError(unsigned long code, const std::string& path);

[[noreturn]] void raiseFileError(unsigned long code);
[[noreturn]] void raisePathError(unsigned long code, const std::string& path);

}  // namespace quenvar::win32
