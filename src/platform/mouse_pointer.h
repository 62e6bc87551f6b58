#pragma once

namespace quenvar {

class MousePointer {
 public:
  static constexpr int kDefault = 0;
  static constexpr int kBusy = 11;  // hourglass
  virtual ~MousePointer() = default;
  virtual void set(int value) = 0;
};

}  // namespace quenvar
