#pragma once

#include <map>
#include <string>

#include "core/text.h"
#include "platform/window_system.h"

namespace quenvar {

// Keeps what the handler hands over, for a renderer to come; showing it is not possible yet.
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
  // One per thread, as each thread has its own dialog.
  HeadlessDialogHost& errorDialog() override;
};

}  // namespace quenvar
