#include "dialogs/email_settings.h"
#include "quenvar/err_handler.h"
#include "mail/mail_dispatch.h"
#include "platform/platform.h"

namespace quenvar {

void clsErrHandler::ChangeEmailSettings() { showEmailSettings(platform_, threadState_); }

void clsErrHandler::TransmitMail(const std::string& lbxErrMessage) noexcept {
  MailDispatch(platform_, mail_, [this] { showEmailSettings(platform_, threadState_); })
      .TransmitMail({.toAddress = emailAddress_, .toName = toName_, .subject = subject_, .body = lbxErrMessage},
                    smtpReply_);
}

}  // namespace quenvar
