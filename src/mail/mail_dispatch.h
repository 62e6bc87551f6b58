#pragma once
// The decision and dispatch behind both ways of mailing an error report: the handler's
// TransmitMail and the error dialog's "E&mail Error". Neither ever fails to its caller.

#include <cstdint>
#include <functional>
#include <string>

namespace quenvar {

class MailClientAutomation;
class MousePointer;
class PumpedSocket;
class ShellLauncher;
struct MailValues;
struct Platform;

struct MailMessage {
  std::string toAddress;
  std::string toName;  // SMTP route only
  std::string subject;
  std::string body;
};

// The error dialog's side of one "E&mail Error" press. Each owner of sessions keeps the latest
// complete reply not yet matched: a later session of the same owner still sees it, another
// owner's never does.
struct ErrorDialogMail {
  bool settingsUnlocked;          // its "Email Settin&gs" button is visible
  MousePointer& pointer;          // the dialog window's own pointer
  PumpedSocket& socket;           // its socket control, kept between sessions
  std::string& reply;             // its unmatched reply
  std::string& m_strEmailDetailAPI;         // receives the "mailto:" link
  const std::string& m_strEmailDetailAPI2;  // the launcher's parameters
};

class MailDispatch {
 public:
  // `showSettings` shows the e-mail settings dialog modally: its owner lives above mail.
  MailDispatch(Platform& platform, MailValues& mail, std::function<void()> showSettings)
      : platform_(platform), mail_(mail), showSettings_(std::move(showSettings)) {}

  // Puts `body` on the clipboard, then mails it as the handler's settings say; `reply` is the
  // handler's own unmatched reply.
  void TransmitMail(const MailMessage& message, std::string& reply) noexcept;
  void EmailError(const MailMessage& message, ErrorDialogMail& dialog) noexcept;

 private:
  struct Entry;
  void run(const Entry& entry, const MailMessage& message) noexcept;
  void dispatch(const Entry& entry, const MailMessage& message);

  Platform& platform_;
  MailValues& mail_;
  std::function<void()> showSettings_;
};

// "mailto:" link with the recipient and subject percent-encoded (RFC 6068); no body.
std::string mailtoLink(const std::string& toAddress, const std::string& subject);

// basFunctions. SendOutlookEmail returns 0 when the item was sent, else the failure's number;
// OpenMailto 0 when the launcher opened the link, else the launcher's last result.
int32_t SendOutlookEmail(MailClientAutomation& automation, const std::string& toAddress, const std::string& subject,
                         const std::string& body);
int32_t OpenMailto(ShellLauncher& launcher, const std::string& folder, const std::string& link,
                   const std::string& parameters);

}  // namespace quenvar
