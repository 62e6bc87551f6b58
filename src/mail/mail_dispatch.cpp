#include "mail/mail_dispatch.h"

#include <exception>
#include <memory>
#include <optional>

#include "quenvar/automation_error.h"
#include "quenvar/object.h"
#include "quenvar/variant.h"
#include "mail/mail_settings.h"
#include "mail/smtp_session.h"
#include "mail/smtp_transport.h"
#include "platform/platform.h"

namespace quenvar {

namespace {

constexpr size_t kShortLinkLength = 400;

std::string percentEncoded(const std::string& text, std::string_view keep) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved || keep.find(static_cast<char>(c)) != std::string_view::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

// The first `length` octets of an encoded link, without a torn escape at the end.
std::string cutLink(const std::string& link, size_t length) {
  if (link.size() <= length) return link;
  size_t end = length;
  if (end >= 1 && link[end - 1] == '%') end -= 1;
  else if (end >= 2 && link[end - 2] == '%') end -= 2;
  return link.substr(0, end);
}

}  // namespace

// What differs between the two entry points.
struct MailDispatch::Entry {
  MousePointer& pointer;
  const std::string* clipboardText;  // TransmitMail only
  bool dialogSettings;               // the error dialog decides "unlocked" itself
  bool settingsUnlocked;
  int32_t routeMin, routeMax;        // accepted range of a stored "EmailType"
  std::string& link;
  const std::string& parameters;
  std::string& reply;
  PumpedSocket* socket = nullptr;  // none: a connection of its own, discarded after the session
};

std::string mailtoLink(const std::string& toAddress, const std::string& subject) {
  // "@" and the list separator "," keep their meaning in the address part.
  return "mailto:" + percentEncoded(toAddress, "@,") + "?Subject=" + percentEncoded(subject, "");
}

int32_t SendOutlookEmail(MailClientAutomation& automation, const std::string& toAddress, const std::string& subject,
                         const std::string& body) {
  try {
    const ObjectRef application = automation.create();
    const Variant mailItem(int16_t{0});
    const Variant created = call(application, "CreateItem", {&mailItem, 1});
    const ObjectRef item = created.asObject();
    if (!item) raiseObjectNotSet();
    const Variant address(toAddress);
    call(getObject(item, "Recipients"), "Add", {&address, 1});
    put(item, "Body", Variant(body));
    put(item, "Subject", Variant(subject));
    call(item, "Send");
    return 0;
  } catch (const AutomationError& e) {
    return e.number() != 0 ? e.number() : err::kInvalidCall;
  } catch (const std::exception&) {
    return err::kInvalidCall;
  }
}

int32_t OpenMailto(ShellLauncher& launcher, const std::string& folder, const std::string& link,
                   const std::string& parameters) {
  // Any result above 32 is success, the value a launcher answers varies (Wine: 33).
  if (launcher.open(link, parameters, folder) > ShellLauncher::kLastFailure) return 0;
  // Some launchers refuse long links; a shortened one still carries recipient and subject.
  const int64_t second = launcher.open(cutLink(link, kShortLinkLength), parameters, folder);
  return second > ShellLauncher::kLastFailure ? 0 : static_cast<int32_t>(second);
}

void MailDispatch::TransmitMail(const MailMessage& message, std::string& reply) noexcept {
  std::string link;
  const std::string noParameters;
  run({.pointer = *platform_.pointer,
       .clipboardText = &message.body,
       .dialogSettings = false,
       .settingsUnlocked = false,
       .routeMin = -32768,
       .routeMax = 32767,
       .link = link,
       .parameters = noParameters,
       .reply = reply},
      message);
}

void MailDispatch::EmailError(const MailMessage& message, ErrorDialogMail& dialog) noexcept {
  run({.pointer = dialog.pointer,
       .clipboardText = nullptr,
       .dialogSettings = true,
       .settingsUnlocked = dialog.settingsUnlocked,
       .routeMin = 0,
       .routeMax = 255,
       .link = dialog.m_strEmailDetailAPI,
       .parameters = dialog.m_strEmailDetailAPI2,
       .reply = dialog.reply,
       .socket = &dialog.socket},
      message);
}

void MailDispatch::run(const Entry& entry, const MailMessage& message) noexcept {
  // Every failure ends the operation silently; what was done stays done.
  try {
    dispatch(entry, message);
  } catch (const std::exception&) {
  }
  try {
    entry.pointer.set(MousePointer::kDefault);
  } catch (const std::exception&) {
  }
}

void MailDispatch::dispatch(const Entry& entry, const MailMessage& message) {
  UserMailSettings settings(*platform_.settings);
  if (entry.clipboardText) platform_.clipboard->setText(*entry.clipboardText);
  if (entry.dialogSettings) entry.pointer.set(MousePointer::kBusy);

  bool unlocked = entry.settingsUnlocked;
  if (!entry.dialogSettings) unlocked = settings.unlocked();
  if (unlocked) {
    if (storedBoolean(settings.get(UserMailSettings::kShowEmlScre, "0")))
      settings.saveBoolean(UserMailSettings::kEmailFlag, true);
    else
      showSettings_();
  }
  if (settings.get(UserMailSettings::kEmailFlag, "") == "False") return;

  if (!entry.dialogSettings) entry.pointer.set(MousePointer::kBusy);
  const int32_t route = settings.route();
  if (route < entry.routeMin || route > entry.routeMax) raiseOverflow();

  MessageBoxService& box = *platform_.messageBox;
  switch (route) {
    case static_cast<int32_t>(MailRoute::kOutlook):
      if (SendOutlookEmail(*platform_.mailClient, message.toAddress, message.subject, message.body) == 0)
        box.show("Composed Error Email in MS Outlook.", "Operation Successful", MessageBoxService::kOk);
      else
        box.show("Error occurred while attempting to compose Error email in MS Outlook", "Operation Failed",
                 MessageBoxService::kCritical);
      break;
    case static_cast<int32_t>(MailRoute::kDefaultClient):
      entry.link = mailtoLink(message.toAddress, message.subject);
      if (OpenMailto(*platform_.shell, platform_.module->folder(), entry.link, entry.parameters) == 0)
        box.show("Composed Error Email in Default Mail Client.", "Operation Successful", MessageBoxService::kOk);
      else
        box.show("Error occurred while attempting to email error", "Operation Failed", MessageBoxService::kCritical);
      break;
    case static_cast<int32_t>(MailRoute::kSmtp): {
      Network& network = *platform_.network;
      std::unique_ptr<PumpedSocket> own;
      PumpedSocket& socket = entry.socket ? *entry.socket : *(own = network.openSocket());
      const SmtpTransportSettings transport(*platform_.settings, *platform_.secrets);
      SmtpSession session({socket, socket, network.clock(), network.host(), box}, entry.reply, transport.transport(),
                          transport.password());
      session.SendEmail(mail_.mailServer, mail_.fromName, mail_.fromEmail, message.toName, message.toAddress,
                        message.subject, message.body);
      break;  // the handler's own connection goes with `own`, as the unloaded dialog's control would
    }
    default:
      break;  // no such route: nothing sent, nothing shown
  }
}

}  // namespace quenvar
