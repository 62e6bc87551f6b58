#include "dialogs/email_settings.h"

#include <optional>

#include "core/automation_error.h"
#include "core/thread_state.h"
#include "core/variant.h"
#include "handler/settings_keys.h"
#include "platform/platform.h"

namespace quenvar {

namespace {

std::string read(SettingsStore& store, const std::string& key, const char* fallback) {
  return store.get(settings::kApplication, settings::kSection, key).value_or(fallback);
}

void write(SettingsStore& store, const std::string& key, const std::string& value) {
  store.save(settings::kApplication, settings::kSection, key, value);
}

// A stored whole number, or nothing when the text is not one that fits 16 bits.
std::optional<int16_t> wholeNumber(const std::string& text) {
  try {
    return narrowToInteger(Variant(text).toLong());
  } catch (const AutomationError&) {
    return std::nullopt;
  }
}

}  // namespace

EmailSettingsDialog::EmailSettingsDialog(SettingsStore& settings, MessageBoxService& messageBox, ThreadState& mail)
    : settings_(settings), messageBox_(messageBox), mail_(mail) {}

void EmailSettingsDialog::Form_Load() {
  loaded = true;
  focus.clear();
  // A stored route the dialog has no option for (the EmailType property takes any number) opens
  // on Outlook rather than failing: the dialog is where the user repairs the setting.
  const std::optional<int16_t> route = wholeNumber(read(settings_, settings::kEmailType, "0"));
  optEmailType_Click(route && *route >= kOutlook && *route <= kSmtp ? *route : kOutlook);
  txtMailserver.text = mail_.mailServer;
  txtFrom.text = mail_.fromName;
  txtEmailAddress.text = mail_.fromEmail;
  // Only a stored 1 ticks the box; anything else, unreadable text included, leaves it clear.
  chkShowScreen = wholeNumber(read(settings_, settings::kShowEmlScre, "0")) == int16_t{1} ? 1 : 0;
  m_bolEmailFlag = false;
}

void EmailSettingsDialog::optEmailType_Click(int16_t index) {
  EnableTextBoxes(index == kSmtp);
  m_intEmailType = index;
}

void EmailSettingsDialog::EnableTextBoxes(bool bolEnable) {
  for (EmailTextBox* box : {&txtMailserver, &txtFrom, &txtEmailAddress}) {
    box->enabled = bolEnable;
    box->backColor = bolEnable ? kColourWhite : kColourInactiveCaptionText;
  }
}

void EmailSettingsDialog::cmdSend_Click() {
  if (m_intEmailType == kSmtp) {
    // A rejected "Ok" is not an acceptance: closing the window after it counts as cancelled.
    if (txtMailserver.text.empty()) {
      messageBox_.show("Enter the MailServer for sending the Email through SMTP.", "Email", MessageBoxService::kOk);
      focus = "txtMailserver";
      return;
    }
    mail_.mailServer = txtMailserver.text;
    mail_.fromName = txtFrom.text;
    if (txtEmailAddress.text.empty()) {
      messageBox_.show("Enter the Email address for sending the Email through SMTP.", "Email", MessageBoxService::kOk);
      focus = "txtEmailAddress";
      return;
    }
    mail_.fromEmail = txtEmailAddress.text;
  }
  m_bolEmailFlag = true;
  write(settings_, settings::kShowEmlScre, std::to_string(chkShowScreen));
  write(settings_, settings::kEmailType, std::to_string(m_intEmailType));
  Form_Unload();
}

void EmailSettingsDialog::cmdCancel_Click() {
  m_bolEmailFlag = false;
  Form_Unload();
}

void EmailSettingsDialog::Form_Unload() {
  loaded = false;
  write(settings_, settings::kEmailFlag, m_bolEmailFlag ? "True" : "False");
}

void showEmailSettings(Platform& platform, ThreadState& mail) {
  // Each showing loads afresh from the store and the mail values, so a dialog per showing
  // behaves as the thread's one reused instance would.
  EmailSettingsDialog dialog(*platform.settings, *platform.messageBox, mail);
  platform.windows->showEmailSettings(dialog);
}

}  // namespace quenvar
