#include "mail/smtp_session.h"

#include <cctype>
#include <span>
#include <utility>
#include <vector>

#include "core/text.h"
#include "mail/mail_text.h"

namespace quenvar {

SmtpSession::SmtpSession(MailServices services, std::string& heldReply, SmtpTransport transport,
                         std::string password)
    : services_(services), held_(heldReply), transport_(std::move(transport)), password_(std::move(password)) {
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

  // Credentials go over TLS or not at all.
  if (!transport_.userName.empty() && transport_.security == SmtpSecurity::kNone) {
    services_.messageBox.show("SMTP sign-in refused: a user name needs TLS (SMTPSecurity 1 or 2), as the password is "
                              "never sent in clear",
                              "Operation Failed", MessageBoxService::kCritical);
    return;
  }
  Socket& socket = services_.socket;
  if (socket.state() != Socket::State::Closed) socket.close();
  partial_.clear();  // what a dropped connection left half-said means nothing on the next one
  lineHead_.clear();
  const bool secure = !transport_.classic();
  // Nor, for the secure session, a reply an earlier connection left unmatched: it would pass
  // for this server's greeting.
  if (secure) held_.clear();
  const std::string server = mail::singleLine(MailServerName);
  socket.connect(server, transport_.port);
  if (secure && !secureStart(server)) return;

  struct Row {
    std::vector<std::string> sends;
    const char* code;
    const char* step;
  };
  const Row rows[] = {
      {{}, "220", "greeting"},
      {{"HELO " + mail::singleLine(services_.host.hostName()) + "\r\n"}, "250", "HELO"},
      {{"MAIL FROM:<" + message.fromAddress + ">\r\n"}, "250", "MAIL FROM"},
      {{"RCPT TO:<" + message.toAddress + ">\r\n"}, "250", "RCPT TO"},
      {{"DATA\r\n"}, "354", "DATA"},
      {{composed.headers + "\r\n", composed.body + "\r\n", ".\r\n"}, "250", "message"},
      {{"QUIT\r\n"}, "221", "QUIT"},
  };
  // The secure session has greeted and introduced itself already, and a refusal there (a
  // sender the account may not use) ends it at once with the server's words.
  for (const Row& row : std::span(rows).subspan(secure ? 2 : 0)) {
    for (const std::string& bytes : row.sends) socket.send(bytes);
    // Given up: the classic connection stays as it is; the next session closes it first.
    if (secure ? !expect(row.code, row.step) : WaitFor(row.code)) return;
  }
  socket.close();
  services_.messageBox.show("Composed Error Email in SMTP.", "Operation Successful", MessageBoxService::kOk);
}

bool SmtpSession::giveUp(const std::string& step, const std::string& why) {
  services_.socket.close();
  services_.messageBox.show("SMTP " + step + " failed: " + why, "Operation Failed", MessageBoxService::kCritical);
  return false;
}

bool SmtpSession::expect(const char* code, const char* step) {
  const double start = services_.clock.seconds();
  while (held_.empty()) {
    if (services_.socket.state() == Socket::State::Closed) return giveUp(step, "the server closed the connection");
    services_.pump.runOnce(kPumpSliceSeconds);
    if (services_.clock.seconds() - start > kReplyLimitSeconds)
      return giveUp(step, "no answer from the server within 50 seconds");
  }
  lastReply_ = std::exchange(held_, {});
  if (lastReply_.compare(0, 3, code) == 0) return true;
  std::string text = lastReply_;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return giveUp(step, "the server answered " + mail::singleLine(text));
}

bool SmtpSession::dropClearText() {
  const bool any = !partial_.empty() || !lineHead_.empty() || !held_.empty();
  partial_.clear();
  lineHead_.clear();
  held_.clear();
  return any;
}

bool SmtpSession::waitForTls(const char* step) {
  Socket& socket = services_.socket;
  const double start = services_.clock.seconds();
  while (socket.tls() == Socket::Tls::Negotiating) {
    services_.pump.runOnce(kPumpSliceSeconds);
    if (services_.clock.seconds() - start > kReplyLimitSeconds)
      return giveUp(step, "the TLS handshake did not end within 50 seconds");
  }
  if (socket.tls() != Socket::Tls::Up) return giveUp(step, socket.tlsFailure());
  return true;
}

namespace {

// Whether an EHLO reply announces `keyword` (a line of its own, or its first word).
bool offers(const std::string& capabilities, std::string_view keyword, std::string* rest = nullptr) {
  size_t start = 0;
  for (bool first = true; start < capabilities.size(); first = false) {
    size_t end = capabilities.find('\n', start);
    if (end == std::string::npos) end = capabilities.size();
    std::string_view line(capabilities.data() + start, end - start);
    start = end + 1;
    if (first || line.size() < 4) continue;  // the greeting line names the server
    line.remove_prefix(4);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    const std::string_view word = line.substr(0, line.find(' '));
    if (!equalsIgnoreCase(word, keyword)) continue;
    if (rest) *rest = toUpperAscii(line.substr(word.size()));
    return true;
  }
  return false;
}

}  // namespace

bool SmtpSession::secureStart(const std::string& serverName) {
  Socket& socket = services_.socket;
  const std::string ehlo = "EHLO " + mail::singleLine(services_.host.hostName()) + "\r\n";
  try {
    if (transport_.security == SmtpSecurity::kImplicitTls) {
      socket.startTls(serverName, transport_.caFile);
      if (!waitForTls("TLS handshake")) return false;
    }
    if (!expect("220", "greeting")) return false;
    socket.send(ehlo);
    if (!expect("250", "EHLO")) return false;
    if (transport_.security == SmtpSecurity::kStartTls) {
      if (!offers(lastReply_, "STARTTLS")) return giveUp("STARTTLS", "the server does not offer TLS");
      socket.send("STARTTLS\r\n");
      if (!expect("220", "STARTTLS")) return false;
      // Whatever came in clear behind the 220 (what has arrived already, too) is a man in the
      // middle's: kept, it would read as the first words of the secure server.
      services_.pump.runOnce(0);
      if (dropClearText()) return giveUp("STARTTLS", "the server sent data before the handshake");
      socket.startTls(serverName, transport_.caFile);
      if (!waitForTls("TLS handshake")) return false;
      socket.send(ehlo);  // what the server offers may change once the connection is private
      if (!expect("250", "EHLO")) return false;
    }
    return transport_.userName.empty() || signIn(lastReply_);
  } catch (const AutomationError& e) {
    return giveUp("connection", e.description());
  }
}

bool SmtpSession::signIn(const std::string& capabilities) {
  Socket& socket = services_.socket;
  std::string mechanisms;
  offers(capabilities, "AUTH", &mechanisms);
  const auto hasMechanism = [&](std::string_view name) {
    return (" " + mechanisms + " ").find(" " + std::string(name) + " ") != std::string::npos;
  };
  if (hasMechanism("PLAIN")) {
    socket.send("AUTH PLAIN " + mail::base64(std::string(1, '\0') + transport_.userName + '\0' + password_) + "\r\n");
    return expect("235", "sign-in");
  }
  if (hasMechanism("LOGIN")) {
    socket.send("AUTH LOGIN\r\n");
    if (!expect("334", "sign-in")) return false;
    socket.send(mail::base64(transport_.userName) + "\r\n");
    if (!expect("334", "sign-in")) return false;
    socket.send(mail::base64(password_) + "\r\n");
    return expect("235", "sign-in");
  }
  return giveUp("sign-in", "the server offers neither AUTH PLAIN nor AUTH LOGIN");
}

}  // namespace quenvar
