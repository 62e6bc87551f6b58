#pragma once
// The mail client's automation server, reached through COM and wrapped like a client's object.

#include "platform/mail_client_automation.h"

namespace quenvar::com {

class OutlookAutomation : public MailClientAutomation {
 public:
  ObjectRef create() override;
};

}  // namespace quenvar::com
