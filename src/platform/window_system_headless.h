#pragma once
// The window system of a build that has no windows: every show fails as a step, so the
// handler's report and logs still go out.

#include "platform/window_system.h"

namespace quenvar {

class HeadlessWindowSystem : public WindowSystem {
 public:
  void showModal(Form& form) override;
};

}  // namespace quenvar
