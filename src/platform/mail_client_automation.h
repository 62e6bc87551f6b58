#pragma once

#include "quenvar/automation_error.h"
#include "quenvar/object.h"

namespace quenvar {

class MailClientAutomation {
 public:
  virtual ~MailClientAutomation() = default;
  // A new "Outlook.Application" automation object; AutomationError 429 when none can be made.
  virtual ObjectRef create() = 0;
};

// Where no mail client can be automated: every creation fails as a missing server's does.
class NoMailClientAutomation : public MailClientAutomation {
 public:
  ObjectRef create() override {
    throw AutomationError(err::kCantCreateObject, "ActiveX component can't create object");
  }
};

}  // namespace quenvar
