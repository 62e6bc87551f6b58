#pragma once
// How the direct SMTP route reaches its server: the classic session (port 25, clear text, no
// sign-in) unless the user's settings ask for submission over TLS with a user name. The
// settings live with the user's other e-mail settings, the password in the secret store.

#include <cstdint>
#include <string>

#include "mail/mail_settings.h"

namespace quenvar {

class SecretStore;

enum class SmtpSecurity : int32_t { kNone = 0, kStartTls = 1, kImplicitTls = 2 };

struct SmtpTransport {
  uint16_t port = 25;
  SmtpSecurity security = SmtpSecurity::kNone;
  std::string userName;  // empty: no sign-in
  std::string caFile;    // trust anchors added to the system's; empty: the system's alone

  bool classic() const { return security == SmtpSecurity::kNone && userName.empty(); }
};

// Each property read from and written to the stores at once, so every handler and dialog of
// the user sees it. A value out of range raises 380 and stores nothing.
class SmtpTransportSettings {
 public:
  static inline const std::string kPort = "SMTPPort";
  static inline const std::string kSecurity = "SMTPSecurity";
  static inline const std::string kUserName = "SMTPUserName";
  static inline const std::string kCAFile = "SMTPCAFile";
  static inline const std::string kPassword = "SMTPPassword";

  SmtpTransportSettings(SettingsStore& settings, SecretStore& secrets) : settings_(settings), secrets_(secrets) {}

  int32_t SMTPPort() const;
  void SMTPPort(int32_t value);
  int32_t SMTPSecurity() const;
  void SMTPSecurity(int32_t value);
  std::string SMTPUserName() const { return settings_.get(kUserName, ""); }
  void SMTPUserName(const std::string& value) { settings_.save(kUserName, value); }
  // Write-only: it goes to the secret store, never to the settings; empty removes it.
  void SMTPPassword(const std::string& value);
  std::string SMTPCAFile() const { return settings_.get(kCAFile, ""); }
  void SMTPCAFile(const std::string& value) { settings_.save(kCAFile, value); }

  // What a session uses. A stored value that is no number raises 13; one out of range, 380.
  SmtpTransport transport() const;
  std::string password() const;

 private:
  UserMailSettings settings_;
  SecretStore& secrets_;
};

}  // namespace quenvar
