#include "mail/smtp_transport.h"

#include "quenvar/automation_error.h"
#include "quenvar/variant.h"
#include "platform/secret_store.h"

namespace quenvar {

namespace {

[[noreturn]] void raiseInvalidValue() { throw AutomationError(err::kInvalidPropertyValue, "Invalid property value"); }

int32_t checkedPort(int32_t value) {
  if (value < 1 || value > 65535) raiseInvalidValue();
  return value;
}

int32_t checkedSecurity(int32_t value) {
  if (value < static_cast<int32_t>(SmtpSecurity::kNone) || value > static_cast<int32_t>(SmtpSecurity::kImplicitTls))
    raiseInvalidValue();
  return value;
}

}  // namespace

int32_t SmtpTransportSettings::SMTPPort() const { return Variant(settings_.get(kPort, "25")).toLong(); }

void SmtpTransportSettings::SMTPPort(int32_t value) { settings_.save(kPort, std::to_string(checkedPort(value))); }

int32_t SmtpTransportSettings::SMTPSecurity() const { return Variant(settings_.get(kSecurity, "0")).toLong(); }

void SmtpTransportSettings::SMTPSecurity(int32_t value) {
  settings_.save(kSecurity, std::to_string(checkedSecurity(value)));
}

void SmtpTransportSettings::SMTPPassword(const std::string& value) {
  if (value.empty())
    secrets_.remove(UserMailSettings::kApplication, kPassword);
  else
    secrets_.save(UserMailSettings::kApplication, kPassword, value);
}

SmtpTransport SmtpTransportSettings::transport() const {
  return {.port = static_cast<uint16_t>(checkedPort(SMTPPort())),
          .security = static_cast<SmtpSecurity>(checkedSecurity(SMTPSecurity())),
          .userName = SMTPUserName(),
          .caFile = SMTPCAFile()};
}

std::string SmtpTransportSettings::password() const {
  return secrets_.get(UserMailSettings::kApplication, kPassword).value_or("");
}

}  // namespace quenvar
