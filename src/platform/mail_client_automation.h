#pragma once

#include "quenvar/object.h"

namespace quenvar {

class MailClientAutomation {
 public:
  virtual ~MailClientAutomation() = default;
  // A new "Outlook.Application" automation object; AutomationError 429 when none can be made.
  virtual ObjectRef create() = 0;
};

}  // namespace quenvar
