#include "dialogs/email_settings.h"
#include "quenvar/err_handler.h"
#include "mail/mail_dispatch.h"
#include "platform/platform.h"

namespace quenvar {

void clsErrHandler::ChangeEmailSettings() { showEmailSettings(platform_, m_threadState); }

void clsErrHandler::TransmitMail(const std::string& lbxErrMessage) noexcept {
  MailDispatch(platform_, m_mail, [this] { showEmailSettings(platform_, m_threadState); })
      .TransmitMail({.toAddress = m_strEmailAddress, .toName = m_strToName, .subject = m_strSubject,
                     .body = lbxErrMessage});
}

}  // namespace quenvar
