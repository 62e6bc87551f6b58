#include "quenvar/automation_error.h"
#include "core/thread_state.h"
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

void clsErrHandler::EmailAddress(const std::string& value) { m_strEmailAddress = withoutMailto(value); }
void clsErrHandler::FromName(const std::string& value) { m_threadState.fromName = value; }
void clsErrHandler::FromEmailAddress(const std::string& value) { m_threadState.fromEmail = withoutMailto(value); }

void clsErrHandler::SMTPMailServer(const std::string& value) {
  m_threadState.mailServer = value;
  platform_.settings->save(settings::kApplication, settings::kSection, settings::kMailServer, value);
}

int32_t clsErrHandler::EmailType() const {
  auto stored = platform_.settings->get(settings::kApplication, settings::kSection, settings::kEmailType);
  return stored ? Variant(*stored).toLong() : 0;
}

void clsErrHandler::EmailType(int32_t value) {
  platform_.settings->save(settings::kApplication, settings::kSection, settings::kEmailType, std::to_string(value));
}

bool clsErrHandler::EmailSettings() const {
  auto stored = platform_.settings->get(settings::kApplication, settings::kSection, settings::kEmailSettings);
  return stored ? settings::toBoolean(*stored) : true;
}

void clsErrHandler::EmailSettings(bool value) {
  platform_.settings->save(settings::kApplication, settings::kSection, settings::kEmailSettings,
                           value ? "True" : "False");
}

}  // namespace quenvar
