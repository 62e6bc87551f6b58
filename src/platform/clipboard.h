#pragma once

#include <string>

namespace quenvar {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Clears the clipboard, then puts `text` on it; AutomationError when it cannot.
  virtual void setText(const std::string& text) = 0;
};

}  // namespace quenvar
