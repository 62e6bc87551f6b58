#include "mail/smtp_session.h"

#include <cctype>
#include <utility>
#include <vector>

#include "mail/mail_text.h"

namespace quenvar {

SmtpSession::SmtpSession(MailServices services, std::string& heldReply, uint16_t port)
    : services_(services), held_(heldReply), port_(port) {
  services_.socket.onData([this](std::string_view data) { received(data); });
}

SmtpSession::~SmtpSession() { services_.socket.onData(nullptr); }

void SmtpSession::received(std::string_view data) {
  for (char c : data) {
    if (partial_.size() < kReplyCap) partial_ += c;
    if (lineHead_.size() < 4) lineHead_ += c;
    if (c != '\n') continue;
    const bool continuation = lineHead_.size() == 4 && lineHead_[3] == '-' &&
                              std::isdigit(static_cast<unsigned char>(lineHead_[0])) &&
                              std::isdigit(static_cast<unsigned char>(lineHead_[1])) &&
                              std::isdigit(static_cast<unsigned char>(lineHead_[2]));
    lineHead_.clear();
    // Any line that does not announce more ends the reply, so a malformed one cannot stall
    // the wait until its limit.
    if (!continuation) held_ = std::exchange(partial_, {});
  }
}

bool SmtpSession::WaitFor(const std::string& ResponseCode) {
  const double start = services_.clock.seconds();
  while (held_.empty()) {
    services_.pump.runOnce(kPumpSliceSeconds);
    if (services_.clock.seconds() - start > kReplyLimitSeconds) {
      services_.messageBox.show("SMTP Service error, Timed out while waiting for response", "SMTP Timeout",
                                MessageBoxService::kInformation);
      return true;
    }
  }
  for (;;) {
    if (held_.size() >= 3 && held_.compare(0, 3, ResponseCode) == 0) {
      held_.clear();
      return false;
    }
    services_.pump.runOnce(kPumpSliceSeconds);
    if (services_.clock.seconds() - start > kReplyLimitSeconds) {
      services_.messageBox.show("SMTP Service error, Improper response Code, Code Should have been:" +
                                    ResponseCode + "CodeRecieved" + held_,
                                "SMTP Timeout", MessageBoxService::kInformation);
      return true;
    }
  }
}

void SmtpSession::SendEmail(const std::string& MailServerName, const std::string& FromName,
                            const std::string& FromEmailAddress, const std::string& ToName,
                            const std::string& ToEMailAddress, const std::string& EmailSubject,
                            const std::string& EmailBodyofMessage) {
  // Cleaned first: a value of nothing but line breaks is blank too.
  const mail::Message message{mail::singleLine(FromName),      mail::singleLine(FromEmailAddress),
                              mail::singleLine(ToName),        mail::singleLine(ToEMailAddress),
                              mail::singleLine(EmailSubject),  EmailBodyofMessage};
  if (message.fromName.empty()) {
    services_.messageBox.show("From Name cannot be blank", "", MessageBoxService::kOk);
    return;
  }
  if (message.fromAddress.empty()) {
    services_.messageBox.show("From Email Address cannot be blank", "", MessageBoxService::kOk);
    return;
  }
  // Either address would otherwise be free to close its path and name further recipients.
  if (!mail::isSingleAddress(message.fromAddress)) {
    services_.messageBox.show("From Email Address is not a valid address", "", MessageBoxService::kOk);
    return;
  }
  if (!message.toAddress.empty() && !mail::isSingleAddress(message.toAddress)) {
    services_.messageBox.show("To Email Address is not a valid address", "", MessageBoxService::kOk);
    return;
  }
  const mail::Composed composed = mail::compose(message, services_.host.zonedNow());

  Socket& socket = services_.socket;
  if (socket.state() != Socket::State::Closed) socket.close();
  partial_.clear();  // what a dropped connection left half-said means nothing on the next one
  lineHead_.clear();
  socket.connect(mail::singleLine(MailServerName), port_);

  struct Row {
    std::vector<std::string> sends;
    const char* code;
  };
  const Row rows[] = {
      {{}, "220"},
      {{"HELO " + mail::singleLine(services_.host.hostName()) + "\r\n"}, "250"},
      {{"MAIL FROM:<" + message.fromAddress + ">\r\n"}, "250"},
      {{"RCPT TO:<" + message.toAddress + ">\r\n"}, "250"},
      {{"DATA\r\n"}, "354"},
      {{composed.headers + "\r\n", composed.body + "\r\n", ".\r\n"}, "250"},
      {{"QUIT\r\n"}, "221"},
  };
  for (const Row& row : rows) {
    for (const std::string& bytes : row.sends) socket.send(bytes);
    // Given up: the connection stays as it is; the next session closes it first.
    if (WaitFor(row.code)) return;
  }
  socket.close();
  services_.messageBox.show("Composed Error Email in SMTP.", "Operation Successful", MessageBoxService::kOk);
}

}  // namespace quenvar
