#include "core/thread_state.h"
#include "dialogs/email_settings.h"
#include "quenvar/err_handler.h"
#include "mail/mail_dispatch.h"
#include "platform/platform.h"

namespace quenvar {

void clsErrHandler::ChangeEmailSettings() { showEmailSettings(platform_, m_threadState); }

void clsErrHandler::TransmitMail(const std::string& lbxErrMessage) noexcept {
  MailDispatch(platform_, m_threadState)
      .TransmitMail({m_strEmailAddress, m_strToName, m_strSubject, lbxErrMessage});
}

}  // namespace quenvar
