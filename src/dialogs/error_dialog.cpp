#include "dialogs/error_dialog.h"

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "core/thread_state.h"
#include "dialogs/email_settings.h"
#include "dialogs/error_dialog_layout.h"
#include "dialogs/thread_dialogs.h"
#include "mail/mail_settings.h"
#include "mail/mail_dispatch.h"
#include "platform/form_pointer.h"
#include "platform/platform.h"

namespace quenvar {

namespace {

constexpr const char* kMovedControls[] = {"lblErrNum",   "PictList",    "PictHeading", "txtOutput", "cmdErrorLog",
                                          "cmdTraceLog", "cmdEmlSet",   "cmdEmail",    "cmdClose"};

}  // namespace

ErrorDialog::ErrorDialog(Platform& platform, ThreadState& thread) : platform_(platform), thread_(thread) {
  caption = "Application Error";
  clientWidth = 9825, clientHeight = 6915;
  font = {"Verdana", 8.25, false};
  sizable = true;
  controls = errorDialogDesign();
}

ErrorDialog::~ErrorDialog() = default;

void ErrorDialog::refresh() {
  if (loaded) return;
  // A reloaded dialog starts from its design, as a newly loaded window would.
  controls = errorDialogDesign();
  loaded = true;
  focus.clear();
  try {
    Form_Load();
  } catch (const std::exception&) {
    // The dialog shows all the same, with what was set so far.
  }
}

void ErrorDialog::Form_Load() {
  control("cmdTraceLog").enabled = m_bolTraceExecution;
  control("lblErrNum").caption = "Error Number: " + platform_.locale->text(Variant(m_dblErrNum));
  // Never written counts as True, as the EmailSettings property reads it, so a first error
  // opens on its report rather than on an empty pane.
  control("cmdEmlSet").visible = UserMailSettings(*platform_.settings).unlocked();
  control("cmdAppInfo").visible = ShowAppInfo;
  control("cmdSystemInfo").visible = ShowSysInfo;
  control("cmdDatabaseInfo").visible = ShowDBInfo;
  onClick("cmdErrorInfo");
  platform_.pointer->set(MousePointer::kDefault);
}

void ErrorDialog::showModal() {
  try {
    platform_.windows->showModal(*this);
  } catch (...) {
    // No window is left of a failed showing: the next error must load the dialog afresh, not
    // show this error's number and pane again.
    loaded = false;
    throw;
  }
}

void ErrorDialog::onActivate() {
  m_strFullReport = m_strErrDetail;
  if (ShowAppInfo) m_strFullReport.append(kCrLf).append(kCrLf).append(AppLog);
  if (ShowSysInfo) m_strFullReport.append(kCrLf).append(kCrLf).append(SysLog);
  if (ShowDBInfo) m_strFullReport.append(kCrLf).append(kCrLf).append(DbLog);
  try {
    platform_.clipboard->setText(m_strFullReport);
  } catch (const AutomationError&) {
    // Another program holds the clipboard: the report is on the pane and goes by mail anyway.
  }
}

void ErrorDialog::onResize(int32_t width, int32_t height) {
  ErrorDialogPlacements p{};
  Twips* slots[] = {&p.lblErrNum, &p.PictList,  &p.PictHeading, &p.txtOutput, &p.cmdErrorLog,
                    &p.cmdTraceLog, &p.cmdEmlSet, &p.cmdEmail,    &p.cmdClose};
  for (size_t i = 0; i < std::size(slots); ++i) *slots[i] = control(kMovedControls[i]).rect;
  p = placeErrorDialog(p, 0, 0, width, height);
  for (size_t i = 0; i < std::size(slots); ++i) control(kMovedControls[i]).rect = *slots[i];
}

void ErrorDialog::onClick(std::string_view name) {
  if (name == "cmdErrorInfo") showSection("Error Information", m_strErrDetail);
  else if (name == "cmdAppInfo") showSection("App. Information", AppLog);
  else if (name == "cmdSystemInfo") showSection("System Information", SysLog);
  else if (name == "cmdDatabaseInfo") showSection("Database Information", DbLog);
  else if (name == "cmdErrorLog") openLog("Error.log", "Error Log");
  else if (name == "cmdTraceLog") openLog("Trace.log", "Trace Log");
  else if (name == "cmdEmlSet") showEmailSettings(platform_, thread_);
  else if (name == "cmdEmail") cmdEmail_Click();
  else if (name == "cmdClose") onClose();
}

void ErrorDialog::showSection(const char* heading, const std::string& text) {
  control("lblTabHeading").caption = heading;
  control("txtOutput").caption = text;
}

void ErrorDialog::openLog(const char* fileName, const char* title) {
  const std::string path = m_strDestination + platform_.files->separator() + fileName;
  try {
    platform_.launcher->openInEditor(path);
  } catch (const AutomationError&) {
    platform_.messageBox->show("The text editor could not be started to open " + path + ".", title,
                               MessageBoxService::kCritical);
  }
}

void ErrorDialog::cmdEmail_Click() {
  if (!Winsock1_) Winsock1_ = platform_.network->openSocket();
  FormPointer pointer(*this, *platform_.windows);
  ErrorDialogMail dialog{.settingsUnlocked = control("cmdEmlSet").visible,
                         .pointer = pointer,
                         .socket = *Winsock1_,
                         .reply = m_strResponse,
                         .m_strEmailDetailAPI = m_strEmailDetailAPI,
                         .m_strEmailDetailAPI2 = m_strEmailDetailAPI2};
  MailDispatch(platform_, thread_.part<MailValues>(), [this] { showEmailSettings(platform_, thread_); })
      .EmailError({.toAddress = m_strEmailAddress, .toName = m_strToName, .subject = m_strSubject,
                   .body = m_strFullReport},
                  dialog);
}

void ErrorDialog::onKeyDown(std::string_view name, int& keyCode) {
  // The pane is read-only to the keyboard: the report is for reading and already on the clipboard.
  if (name == "txtOutput") keyCode = 0;
}

void ErrorDialog::onKeyPress(std::string_view name, int& keyAscii) {
  if (name == "txtOutput") keyAscii = 0;
}

void ErrorDialog::onKeyUp(std::string_view name, int& keyCode) {
  if (name == "txtOutput") keyCode = 0;
}

void ErrorDialog::onClose() {
  // Hiding and repainting mean nothing to the model; the inputs stay for the next error. A
  // connection a session left open ends with the window that holds its socket.
  loaded = false;
  if (Winsock1_ && Winsock1_->state() != Socket::State::Closed) Winsock1_->close();
}

ErrorDialogHost& threadErrorDialog(Platform& platform, ThreadState& state) {
  std::shared_ptr<ErrorDialogHost>& dialog = state.part<ThreadDialogs>().errorDialog;
  if (!dialog) dialog = std::make_shared<ErrorDialog>(platform, state);
  return *dialog;
}

}  // namespace quenvar
