#pragma once

#include "platform/message_box.h"

namespace quenvar {

class Win32MessageBox : public MessageBoxService {
 public:
  // An empty title shows the component's own.
  int show(const std::string& text, const std::string& title, int style) override;
};

}  // namespace quenvar
