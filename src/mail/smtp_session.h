#pragma once
// One SMTP dialogue engine, shared by every owner that sends the error report by mail.

#include <cstdint>
#include <string>

#include "mail/smtp_transport.h"
#include "platform/message_box.h"
#include "platform/socket.h"

namespace quenvar {

struct MailServices {
  Socket& socket;
  MessagePump& pump;
  SteadyClock& clock;
  MailHost& host;
  MessageBoxService& messageBox;
};

class SmtpSession {
 public:
  static constexpr double kReplyLimitSeconds = 50;
  static constexpr double kPumpSliceSeconds = 0.1;
  static constexpr size_t kReplyCap = 64 * 1024;

  // `heldReply` is the latest complete server reply not yet matched; the owners pass the
  // thread's, so it outlives a session.
  SmtpSession(MailServices services, std::string& heldReply, uint16_t port = 25)
      : SmtpSession(services, heldReply, SmtpTransport{.port = port, .security = SmtpSecurity::kNone, .userName = {}, .caFile = {}}, {}) {}
  // Submission beyond the classic session: TLS from the first byte or after STARTTLS, then
  // sign-in with `password` when the transport names a user.
  SmtpSession(MailServices services, std::string& heldReply, SmtpTransport transport, std::string password);
  ~SmtpSession();
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  void SendEmail(const std::string& MailServerName, const std::string& FromName,
                 const std::string& FromEmailAddress, const std::string& ToName,
                 const std::string& ToEMailAddress, const std::string& EmailSubject,
                 const std::string& EmailBodyofMessage);

  // False when the held reply carries `ResponseCode`; true when the session has to give up
  // (the user has been told why).
  bool WaitFor(const std::string& ResponseCode);

 private:
  void received(std::string_view data);
  // The secure session's steps up to the envelope; false when it gave up (the user told why,
  // the connection closed).
  bool secureStart(const std::string& serverName);
  bool waitForTls(const char* step);
  // Forgets what arrived in clear and not yet used; true when there was any.
  bool dropClearText();
  // The next complete reply, which must carry `code`: any other ends the session at once.
  bool expect(const char* code, const char* step);
  bool signIn(const std::string& capabilities);
  bool giveUp(const std::string& step, const std::string& why);

  MailServices services_;
  std::string& held_;
  SmtpTransport transport_;
  std::string password_;
  std::string lastReply_;  // the reply `expect` matched: the capabilities after EHLO
  std::string partial_;   // the reply arriving, capped
  std::string lineHead_;  // the first octets of its current line
};

}  // namespace quenvar
