#pragma once

#include <string>

namespace quenvar {

class MessageBoxService {
 public:
  enum Style : int { kOk = 0, kCritical = 16, kInformation = 64 };
  enum Answer : int { kAnsweredOk = 1 };
  virtual ~MessageBoxService() = default;
  // Modal; returns the button pressed.
  virtual int show(const std::string& text, const std::string& title, int style) = 0;
};

}  // namespace quenvar
