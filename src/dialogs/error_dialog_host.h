#pragma once
// The hand-off to the calling thread's error dialog: inputs are set one by one, then the dialog
// is refreshed and shown modally. Any step may fail with AutomationError.

#include <string>

namespace quenvar {

struct Platform;
class ThreadState;

// What the handler hands over, as the dialog keeps it.
struct ErrorDialogInput {
  std::string m_strErrDetail;
  std::string m_strDestination;
  double m_dblErrNum = 0;
  bool m_bolTraceExecution = false;
  std::string m_strEmailAddress;
  std::string m_strToName;
  std::string m_strSubject;
  std::string m_strEmailDetailAPI;
  std::string m_strEmailDetailAPI2;
  bool ShowAppInfo = false;
  bool ShowDBInfo = false;
  bool ShowSysInfo = false;
  std::string AppLog;
  std::string SysLog;
  std::string DbLog;
};

class ErrorDialogHost {
 public:
  virtual ~ErrorDialogHost() = default;
  // One input: typed, so that a wrong name or kind cannot compile.
  virtual void set(std::string ErrorDialogInput::*input, const std::string& value) = 0;
  virtual void set(double ErrorDialogInput::*input, double value) = 0;
  virtual void set(bool ErrorDialogInput::*input, bool value) = 0;
  virtual void refresh() = 0;
  // Returns when the user has closed the dialog.
  virtual void showModal() = 0;
};

// The thread's single dialog, created on first use in `state` and reused for every later error.
ErrorDialogHost& threadErrorDialog(Platform& platform, ThreadState& state);

}  // namespace quenvar
