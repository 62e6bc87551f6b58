#pragma once

#include "platform/mouse_pointer.h"

namespace quenvar {

class Win32MousePointer : public MousePointer {
 public:
  void set(int value) override;
};

}  // namespace quenvar
