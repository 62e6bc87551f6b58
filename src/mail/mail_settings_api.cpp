// The public MailSettings over the transport settings of the platform it was given.

#include "quenvar/mail_settings.h"

#include "mail/smtp_transport.h"
#include "platform/platform.h"

namespace quenvar {

namespace {
SmtpTransportSettings of(Platform& platform) { return {*platform.settings, *platform.secrets}; }
}  // namespace

MailSettings::MailSettings() : MailSettings(defaultPlatform()) {}

int32_t MailSettings::SMTPPort() const { return of(platform_).SMTPPort(); }
void MailSettings::SMTPPort(int32_t value) { of(platform_).SMTPPort(value); }
int32_t MailSettings::SMTPSecurity() const { return of(platform_).SMTPSecurity(); }
void MailSettings::SMTPSecurity(int32_t value) { of(platform_).SMTPSecurity(value); }
std::string MailSettings::SMTPUserName() const { return of(platform_).SMTPUserName(); }
void MailSettings::SMTPUserName(const std::string& value) { of(platform_).SMTPUserName(value); }
void MailSettings::SMTPPassword(const std::string& value) { of(platform_).SMTPPassword(value); }
std::string MailSettings::SMTPCAFile() const { return of(platform_).SMTPCAFile(); }
void MailSettings::SMTPCAFile(const std::string& value) { of(platform_).SMTPCAFile(value); }

}  // namespace quenvar
