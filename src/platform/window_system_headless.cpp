#include "platform/window_system_headless.h"

#include "quenvar/automation_error.h"

namespace quenvar {

void HeadlessWindowSystem::showModal(Form&) {
  throw AutomationError(err::kInvalidCall, "No window system is available to show the dialog");
}

}  // namespace quenvar
