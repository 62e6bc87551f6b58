#include "dialogs/email_settings.h"

#include <memory>
#include <optional>
#include <string>

#include "quenvar/automation_error.h"
#include "core/thread_state.h"
#include "quenvar/variant.h"
#include "dialogs/thread_dialogs.h"
#include "mail/mail_settings.h"
#include "platform/platform.h"

namespace quenvar {

namespace {

constexpr std::string_view kOptionPrefix = "optEmailType(";
const char* const kTextBoxes[] = {"txtMailserver", "txtFrom", "txtEmailAddress"};

// A stored whole number, or nothing when the text is not one that fits 16 bits.
std::optional<int16_t> wholeNumber(const std::string& text) {
  try {
    return narrowToInteger(Variant(text).toLong());
  } catch (const AutomationError&) {
    return std::nullopt;
  }
}

std::string optionName(int index) { return std::string(kOptionPrefix) + std::to_string(index) + ")"; }

Control option(int index, const char* caption, int32_t left, int tab) {
  Control c{optionName(index), ControlKind::OptionButton, "framEmailOptions", {left, 210, 1215, 330}, caption};
  c.tabIndex = tab;
  return c;
}

Control label(const char* name, const char* caption, Twips rect, int tab) {
  Control c{name, ControlKind::Label, "", rect, caption};
  c.alignment = Alignment::Right;
  c.autoSize = true;
  c.tabIndex = tab;
  return c;
}

// Designed disabled and grey: only the SMTP route uses them.
Control textBox(const char* name, int32_t top, int tab) {
  Control c{name, ControlKind::TextBox, "", {1590, top, 2955, 300}, ""};
  c.foreColor = kColourWindowText;
  c.backColor = kColourInactiveCaptionText;
  c.enabled = false;
  c.tabIndex = tab;
  return c;
}

Control line(const char* name, int32_t y, uint32_t colour) {
  Control c{name, ControlKind::Line, "", {15, y, 4620, 0}, ""};
  c.foreColor = colour;
  return c;
}

Control button(const char* name, const char* caption, int32_t left, int tab) {
  Control c{name, ControlKind::Button, "", {left, 2820, 1050, 330}, caption, {"Tahoma", 8.25, false}};
  c.tabIndex = tab;
  return c;
}

}  // namespace

EmailSettingsDialog::EmailSettingsDialog() {
  caption = "Email";
  clientWidth = 4635, clientHeight = 3330;
  Control frame{"framEmailOptions", ControlKind::Frame, "", {90, 60, 4470, 645}, "Email Options"};
  frame.tabIndex = 9;
  Control check{"chkShowScreen", ControlKind::CheckBox, "", {90, 2880, 2025, 210}, "&Do not show this screen"};
  check.tabIndex = 8;
  Control send = button("cmdSend", "Ok", 2400, 7);
  send.isDefault = true;
  Control cancel = button("cmdCancel", "Cancel", 3510, 6);
  cancel.isCancel = true;
  controls = {frame,
              option(0, "&Outlook", 135, 11),
              option(1, "De&fault", 1612, 12),
              option(2, "&SMTP", 3090, 10),
              label("lblMailServer", "SMTP Mail Server: ", {90, 1133, 1380, 195}, 3),
              textBox("txtMailserver", 1080, 0),
              label("lblFrom", "From Name: ", {570, 1583, 900, 195}, 4),
              textBox("txtFrom", 1530, 1),
              label("lblEmailAddress", "From Email Address: ", {0, 2063, 1470, 195}, 5),
              textBox("txtEmailAddress", 2010, 2),
              line("Line2", 2670, kColourWindow),
              line("Line1", 2685, kColourWindowText),
              check,
              send,
              cancel};
}

void EmailSettingsDialog::load(Platform& platform, MailValues& mail) {
  platform_ = &platform;
  mail_ = &mail;
  loaded = true;
  focus.clear();
  // A stored route the dialog has no option for (the EmailType property takes any number) opens
  // on Outlook rather than failing: the dialog is where the user repairs the setting.
  const UserMailSettings settings(*platform.settings);
  const std::optional<int16_t> route = wholeNumber(settings.get(UserMailSettings::kEmailType, "0"));
  optEmailType_Click(route && *route >= kOutlook && *route <= kSmtp ? *route : kOutlook);
  control("txtMailserver").caption = mail.mailServer;
  control("txtFrom").caption = mail.fromName;
  control("txtEmailAddress").caption = mail.fromEmail;
  // Only a stored 1 ticks the box; anything else, unreadable text included, leaves it clear.
  control("chkShowScreen").value = wholeNumber(settings.get(UserMailSettings::kShowEmlScre, "0")) == int16_t{1};
  m_bolEmailFlag = false;
}

void EmailSettingsDialog::onClick(std::string_view name) {
  if (name == "cmdSend") return cmdSend_Click();
  if (name == "cmdCancel") return cmdCancel_Click();
  for (int16_t i = kOutlook; i <= kSmtp; ++i)
    if (name == optionName(i)) return optEmailType_Click(i);
}

void EmailSettingsDialog::onClose() { Form_Unload(); }

void EmailSettingsDialog::optEmailType_Click(int16_t index) {
  for (int16_t i = kOutlook; i <= kSmtp; ++i) control(optionName(i)).value = i == index;
  EnableTextBoxes(index == kSmtp);
  m_intEmailType = index;
}

void EmailSettingsDialog::EnableTextBoxes(bool bolEnable) {
  for (const char* name : kTextBoxes) {
    Control& box = control(name);
    box.enabled = bolEnable;
    box.backColor = bolEnable ? kColourWhite : kColourInactiveCaptionText;
  }
}

void EmailSettingsDialog::rejectOk(const char* text, const char* box) {
  platform_->messageBox->show(text, "Email", MessageBoxService::kOk);
  focus = box;
}

void EmailSettingsDialog::cmdSend_Click() {
  if (m_intEmailType == kSmtp) {
    // A rejected "Ok" is not an acceptance: closing the window after it counts as cancelled.
    const std::string& server = control("txtMailserver").caption;
    if (server.empty()) return rejectOk("Enter the MailServer for sending the Email through SMTP.", "txtMailserver");
    mail_->mailServer = server;
    mail_->fromName = control("txtFrom").caption;
    const std::string& address = control("txtEmailAddress").caption;
    if (address.empty())
      return rejectOk("Enter the Email address for sending the Email through SMTP.", "txtEmailAddress");
    mail_->fromEmail = address;
  }
  m_bolEmailFlag = true;
  UserMailSettings settings(*platform_->settings);
  settings.save(UserMailSettings::kShowEmlScre, std::to_string(control("chkShowScreen").value));
  settings.route(m_intEmailType);
  Form_Unload();
}

void EmailSettingsDialog::cmdCancel_Click() {
  m_bolEmailFlag = false;
  Form_Unload();
}

void EmailSettingsDialog::Form_Unload() {
  loaded = false;
  UserMailSettings(*platform_->settings).saveBoolean(UserMailSettings::kEmailFlag, m_bolEmailFlag);
}

void showEmailSettings(Platform& platform, ThreadState& thread) {
  std::shared_ptr<EmailSettingsDialog>& dialog = thread.part<ThreadDialogs>().emailSettings;
  if (!dialog) dialog = std::make_shared<EmailSettingsDialog>();
  // Held for the showing: a handler may not drop the thread's instance from under its window.
  const std::shared_ptr<EmailSettingsDialog> shown = dialog;
  shown->load(platform, thread.part<MailValues>());
  platform.windows->showModal(*shown);
}

}  // namespace quenvar
