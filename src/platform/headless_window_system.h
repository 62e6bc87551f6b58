#pragma once
// The window system of a build that cannot show the dialog yet: each thread's host keeps what
// the handler hands over; showing it fails as a step.

#include <map>
#include <string>

#include "core/text.h"
#include "platform/window_system.h"

namespace quenvar {

class HeadlessDialogHost : public ErrorDialogHost {
 public:
  void assign(std::string_view member, const Variant& value) override;
  void refresh() override {}
  void showModal() override;

  // Member names compare as the automation runtime compares them, ignoring letter case.
  const std::map<std::string, Variant, CaseInsensitiveLess>& members() const { return members_; }

 private:
  std::map<std::string, Variant, CaseInsensitiveLess> members_;
};

class HeadlessWindowSystem : public WindowSystem {
 public:
  // One per thread, kept with the thread's other shared state.
  HeadlessDialogHost& errorDialog() override;
  void showEmailSettings(EmailSettingsDialog& dialog) override;
};

}  // namespace quenvar
