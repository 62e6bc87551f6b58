#pragma once

#include <string>

namespace quenvar {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Opens a text file in the platform's plain-text editor, in a normal focused window,
  // without waiting. A failure to start raises AutomationError.
  virtual void openInEditor(const std::string& path) = 0;
};

}  // namespace quenvar
