#pragma once

#include <iostream>

#include "platform/message_box.h"

namespace quenvar {

// Without a window system the message goes where a user running the program sees it.
class StderrMessageBox : public MessageBoxService {
 public:
  explicit StderrMessageBox(std::ostream& out = std::cerr) : out_(out) {}
  int show(const std::string& text, const std::string& title, int style) override;

 private:
  std::ostream& out_;
};

}  // namespace quenvar
