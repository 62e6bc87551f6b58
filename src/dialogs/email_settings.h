#pragma once
// The e-mail settings dialog `frmEml`: the user picks the mail route and, for SMTP, the server
// and sender. One instance per thread, loaded afresh on every showing.

#include <cstdint>
#include <string_view>

#include "platform/form.h"

namespace quenvar {

struct MailValues;
struct Platform;
class ThreadState;

class EmailSettingsDialog : public Form {
 public:
  static constexpr int16_t kOutlook = 0, kDefault = 1, kSmtp = 2;

  EmailSettingsDialog();

  // The load step of one showing, over that showing's services and the thread's mail values.
  // A failure of the settings store goes to whoever shows the dialog.
  void load(Platform& platform, MailValues& mail);

  void onClick(std::string_view control) override;
  void onClose() override;

  int16_t m_intEmailType = kOutlook;  // also the selected option
  bool m_bolEmailFlag = false;

 private:
  void optEmailType_Click(int16_t index);
  void EnableTextBoxes(bool bolEnable);
  void cmdSend_Click();
  void cmdCancel_Click();
  void Form_Unload();
  void rejectOk(const char* text, const char* box);

  Platform* platform_ = nullptr;
  MailValues* mail_ = nullptr;
};

// Shows the thread's settings dialog modally through the platform's window system, for the
// thread whose mail values it edits; returns when it has closed.
void showEmailSettings(Platform& platform, ThreadState& thread);

}  // namespace quenvar
