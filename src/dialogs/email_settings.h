#pragma once
// The e-mail settings dialog `frmEml` as a model: its state and event handlers. A window system
// renders it and feeds it the user's actions; tests drive it directly.

#include <cstdint>
#include <string>

namespace quenvar {

class MessageBoxService;
class SettingsStore;
struct Platform;
struct ThreadState;

// Colours as the window system takes them: RGB, or a system colour index flagged by the top bit.
inline constexpr uint32_t kColourWhite = 0xFFFFFF;
inline constexpr uint32_t kSystemColourFlag = 0x80000000u;
inline constexpr uint32_t kColourInactiveCaptionText = kSystemColourFlag | 19;

struct EmailTextBox {
  std::string text;
  bool enabled = false;
  uint32_t backColor = kColourInactiveCaptionText;
};

class EmailSettingsDialog {
 public:
  static constexpr int16_t kOutlook = 0, kDefault = 1, kSmtp = 2;

  EmailSettingsDialog(SettingsStore& settings, MessageBoxService& messageBox, ThreadState& mail);

  // Event handlers. A failure of the settings store goes to whoever shows the dialog.
  void Form_Load();
  void optEmailType_Click(int16_t index);
  void cmdSend_Click();
  void cmdCancel_Click();
  // Also what the close box does.
  void Form_Unload();

  // Controls the user works with.
  EmailTextBox txtMailserver, txtFrom, txtEmailAddress;
  int16_t chkShowScreen = 0;  // 0 clear, 1 ticked

  int16_t m_intEmailType = kOutlook;  // also the selected option
  bool m_bolEmailFlag = false;
  std::string focus;  // the control holding the focus, by name; empty when none was set
  bool loaded = false;  // false once the unload step has run: the window system closes it then

 private:
  void EnableTextBoxes(bool bolEnable);

  SettingsStore& settings_;
  MessageBoxService& messageBox_;
  ThreadState& mail_;
};

// Shows the settings dialog modally through the platform's window system, for the thread whose
// mail values it edits; returns when it has closed.
void showEmailSettings(Platform& platform, ThreadState& mail);

}  // namespace quenvar
