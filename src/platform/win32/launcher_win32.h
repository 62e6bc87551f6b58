#pragma once

#include <string>

#include "platform/launcher.h"

namespace quenvar {

// Runs "<program> <path>": the path goes unquoted, as the plain-text editor takes the rest of
// its command line as one file name, blanks included.
class Win32Launcher : public Launcher {
 public:
  explicit Win32Launcher(std::string program = systemEditor()) : program_(std::move(program)) {}
  void openInEditor(const std::string& path) override;

  // The system's own notepad.exe by its full path, quoted: a program of that name in the host's
  // folder or the current one is never searched for.
  static std::string systemEditor();

 private:
  std::string program_;
};

}  // namespace quenvar
