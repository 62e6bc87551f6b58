#pragma once

#include <string>

#include "platform/clipboard.h"

namespace quenvar {

class Win32Clipboard : public Clipboard {
 public:
  void setText(const std::string& text) override;
};

}  // namespace quenvar
