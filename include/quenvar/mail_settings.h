#pragma once
// The user's settings for the direct SMTP route's submission over TLS with sign-in, as a client
// sets them up. Nothing is held here: every read and write goes to the user's stores at once, so
// each handler and dialog of the user sees it.

#include <cstdint>
#include <string>

namespace quenvar {

struct Platform;

class MailSettings {
 public:
  explicit MailSettings(Platform& platform) : platform_(platform) {}
  MailSettings();

  // 1 to 65535, 25 when never set. A value out of range raises 380 and stores nothing.
  int32_t SMTPPort() const;
  void SMTPPort(int32_t value);
  // 0 none (never set), 1 STARTTLS, 2 implicit TLS; else 380.
  int32_t SMTPSecurity() const;
  void SMTPSecurity(int32_t value);
  // Empty: no sign-in.
  std::string SMTPUserName() const;
  void SMTPUserName(const std::string& value);
  // Write-only: kept protected in the user's secret store, never beside the settings; empty
  // removes it.
  void SMTPPassword(const std::string& value);
  // Trust anchors added to the system's; empty: the system's alone.
  std::string SMTPCAFile() const;
  void SMTPCAFile(const std::string& value);

 private:
  Platform& platform_;
};

}  // namespace quenvar
