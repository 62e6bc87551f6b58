#pragma once

#include "platform/window_system.h"

namespace quenvar {

// Real windows on the thread that shows them. Without a display it refuses with error 5
// instead of waiting for a user who can never answer.
class Win32WindowSystem : public WindowSystem {
 public:
  void showModal(Form& form) override;
  void showPointer(const Form& form) override;
};

}  // namespace quenvar
