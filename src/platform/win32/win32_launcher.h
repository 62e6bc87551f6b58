#pragma once

#include <string>

#include "platform/launcher.h"

namespace quenvar {

// Runs "<program> <path>": the path goes unquoted, as the plain-text editor takes the rest of
// its command line as one file name, blanks included.
class Win32Launcher : public Launcher {
 public:
  explicit Win32Launcher(std::string program = "notepad.exe") : program_(std::move(program)) {}
  void openInEditor(const std::string& path) override;

 private:
  std::string program_;
};

}  // namespace quenvar
