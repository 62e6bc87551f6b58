#pragma once
// The Linux build's pointer: recorded, as there is no window system to show it on.

#include "platform/mouse_pointer.h"

namespace quenvar {

class RecordedMousePointer : public MousePointer {
 public:
  void set(int value) override { value_ = value; }
  int value() const { return value_; }

 private:
  int value_ = kDefault;
};

}  // namespace quenvar
