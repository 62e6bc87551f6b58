#include "platform/headless_window_system.h"

#include "core/automation_error.h"
#include "core/thread_state.h"

namespace quenvar {

void HeadlessDialogHost::assign(std::string_view member, const Variant& value) {
  if (auto it = members_.find(member); it != members_.end()) it->second = value;
  else members_.emplace(std::string(member), value);
}

void HeadlessDialogHost::showModal() {
  throw AutomationError(err::kInvalidCall, "No window system is available to show the dialog");
}

void HeadlessWindowSystem::showEmailSettings(EmailSettingsDialog&) {
  throw AutomationError(err::kInvalidCall, "No window system is available to show the dialog");
}

HeadlessDialogHost& HeadlessWindowSystem::errorDialog() {
  auto& host = threadState().errorDialog;
  if (!host) host = std::make_shared<HeadlessDialogHost>();
  return static_cast<HeadlessDialogHost&>(*host);
}

}  // namespace quenvar
