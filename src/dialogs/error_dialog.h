#pragma once
// The error dialog `frmError`: one handled error for the user to read, copy, open the logs of
// and mail. The handler sets its inputs, refreshes it (the load step) and shows it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/error_dialog_host.h"
#include "platform/form.h"

namespace quenvar {

class PumpedSocket;

class ErrorDialog : public Form, public ErrorDialogHost, public ErrorDialogInput {
 public:
  ErrorDialog(Platform& platform, ThreadState& thread);
  ~ErrorDialog() override;

  void set(std::string ErrorDialogInput::*input, const std::string& value) override { this->*input = value; }
  void set(double ErrorDialogInput::*input, double value) override { this->*input = value; }
  void set(bool ErrorDialogInput::*input, bool value) override { this->*input = value; }
  // Loads an unloaded dialog from its design state and runs the load step.
  void refresh() override;
  void showModal() override;

  void onActivate() override;
  void onResize(int32_t width, int32_t height) override;
  void onClick(std::string_view control) override;
  void onKeyDown(std::string_view control, int& keyCode) override;
  void onKeyPress(std::string_view control, int& keyAscii) override;
  void onKeyUp(std::string_view control, int& keyCode) override;
  void onClose() override;

  // The whole report as last put on the clipboard; the mail body.
  const std::string& fullReport() const { return m_strFullReport; }

 private:
  void Form_Load();
  void showSection(const char* heading, const std::string& text);
  void openLog(const char* fileName, const char* title);
  void cmdEmail_Click();

  Platform& platform_;
  ThreadState& thread_;
  std::string m_strFullReport;
  std::string m_strResponse;  // the latest reply of its SMTP sessions not yet matched
  // The socket control, opened on the first mail and kept while the dialog is loaded.
  std::unique_ptr<PumpedSocket> Winsock1_;
};

// The controls of the error dialog as designed, before any load step or resize.
std::vector<Control> errorDialogDesign();

}  // namespace quenvar
