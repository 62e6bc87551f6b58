#include "quenvar/automation_error.h"
#include "quenvar/err_handler.h"
#include "mail/mail_settings.h"
#include "platform/platform.h"

namespace quenvar {

namespace {
// Every "mailto:" goes, wherever it stands; letter case counts ("MAILTO:" stays).
std::string withoutMailto(std::string text) {
  static constexpr std::string_view prefix = "mailto:";
  for (size_t p = text.find(prefix); p != std::string::npos; p = text.find(prefix, p)) text.erase(p, prefix.size());
  return text;
}
}  // namespace

void clsErrHandler::EmailAddress(const std::string& value) { emailAddress_ = withoutMailto(value); }
void clsErrHandler::FromName(const std::string& value) { mail_.fromName = value; }
void clsErrHandler::FromEmailAddress(const std::string& value) { mail_.fromEmail = withoutMailto(value); }

void clsErrHandler::SMTPMailServer(const std::string& value) {
  mail_.mailServer = value;
  UserMailSettings(*platform_.settings).save(UserMailSettings::kMailServer, value);
}

int32_t clsErrHandler::EmailType() const {
  return UserMailSettings(*platform_.settings).route();
}

void clsErrHandler::EmailType(int32_t value) {
  UserMailSettings(*platform_.settings).route(value);
}

bool clsErrHandler::EmailSettings() const { return UserMailSettings(*platform_.settings).unlocked(); }

void clsErrHandler::EmailSettings(bool value) {
  UserMailSettings(*platform_.settings).saveBoolean(UserMailSettings::kEmailSettings, value);
}

}  // namespace quenvar
