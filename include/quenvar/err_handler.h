#pragma once
// The handler object a client creates once and calls from its procedures and error traps.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quenvar/object.h"
#include "quenvar/variant.h"
#include "quenvar/handler_events.h"
#include "quenvar/detail/name_stack.h"
#include "quenvar/detail/param_table.h"

namespace quenvar {

namespace collector {
struct Frame;
struct CrashStack;
struct Context;
class Hub;
}
struct MailValues;
struct Platform;
class Steps;
class SysObj;
class ThreadState;

class clsErrHandler {
 public:
  explicit clsErrHandler(Platform& platform);
  clsErrHandler();
  ~clsErrHandler();
  clsErrHandler(const clsErrHandler&) = delete;
  clsErrHandler& operator=(const clsErrHandler&) = delete;

  // Configuration.
  const std::string& CurrentOperation() const { return currentOperation_; }
  void CurrentOperation(std::string value) { currentOperation_ = std::move(value); }
  const std::string& Destination() const { return destination_; }
  void Destination(const std::string& value);
  ObjectRef Cn() const { return cn_; }
  void Cn(const ObjectRef& connection);
  std::string ADOVersion() const;
  ObjectRef AppObject() const { return appObject_; }
  void AppObject(const ObjectRef& application);
  void UseInterface(bool value) { useInterface_ = value; }
  void TraceExecution(bool value);
  bool LogEvent() const { return logEvent_; }
  void LogEvent(bool value) { logEvent_ = value; }
  bool ShowAppInfo() const { return showAppInfo_; }
  void ShowAppInfo(bool value) { showAppInfo_ = value; }
  bool ShowSysInfo() const { return showSysInfo_; }
  void ShowSysInfo(bool value) { showSysInfo_ = value; }
  bool ShowDBInfo() const { return showDBInfo_; }
  void ShowDBInfo(bool value) { showDBInfo_ = value; }
  std::shared_ptr<SysObj> SysObject();

  // E-mail: the recipient belongs to this handler, the sender and server to the thread, the
  // route and the settings switch to the user's settings store.
  void EmailAddress(const std::string& value);
  void ToName(const std::string& value) { toName_ = value; }
  void FromName(const std::string& value);
  void FromEmailAddress(const std::string& value);
  void SMTPMailServer(const std::string& value);
  int32_t EmailType() const;
  void EmailType(int32_t value);
  bool EmailSettings() const;
  void EmailSettings(bool value);
  // Shows the e-mail settings dialog modally; its failures go to the caller.
  void ChangeEmailSettings();
  // Puts the text on the clipboard and mails it as the user's settings say; never fails.
  void TransmitMail(const std::string& lbxErrMessage) noexcept;

  // Results of the last HandleError.
  int32_t ErrNum() const { return errNum_; }
  const std::string& ErrDesc() const { return errDesc_; }
  std::string ErrLine() const { return std::to_string(errLine_); }
  const std::string& ProcName() const { return procName_; }
  Variant CustomErrMessage() const { return Variant(customErrMessage_); }
  std::string ErrorType() const { return std::to_string(errorType_); }
  const std::string& ErrorLogDisplay() const { return errorLogDisplay_; }
  const std::string& AppLogDisplay() const { return appLogDisplay_; }
  const std::string& SysLogDisplay() const { return sysLogDisplay_; }
  const std::string& DbLogDisplay() const { return dbLogDisplay_; }
  const std::string& MailSubject() const { return subject_; }

  // The procedure stack. The usual moves are inline, so that a client's call costs no more call
  // levels than it must; everything else takes the general path.
  // Never raise: every failure is the status.
  int32_t Push(std::string_view strProc) noexcept {
    if (!pushesInPlace(strProc.size())) return pushAnyDepth(strProc);
    stack_.pushInPlace(strProc);
    procParams_.growInPlace();
    return 0;
  }
  // The same from UTF-16, as automation clients hold names: an ASCII name goes onto the stack
  // without a conversion.
  int32_t Push(std::u16string_view strProc) noexcept { return tryPushInPlace(strProc) ? 0 : pushConverted(strProc); }
  // The usual moves alone: false, with nothing changed that can be seen, when they do not apply.
  bool tryPushInPlace(std::u16string_view strProc) noexcept {
    if (!pushesInPlace(strProc.size()) || !stack_.pushInPlace(strProc)) return false;
    procParams_.growInPlace();
    return true;
  }
  int32_t Pop() noexcept { return tryPopInPlace() ? 0 : popAnyDepth(); }
  bool tryPopInPlace() noexcept {
    // At depth 0 neither table may shrink in place: each keeps its first slot.
    if (procParams_.size() != stack_.size() || !stack_.canPopInPlace() || !procParams_.canShrinkInPlace())
      return false;
    stack_.popInPlace();
    procParams_.shrinkInPlace();
    return true;
  }
  void AddParam(const std::string& sParam, const std::string& sType, const Variant& vVal);
  std::string ShowParam();
  VariantArray CallStack() const;
  int32_t StackDepth() const {
    return static_cast<int32_t>(static_cast<int64_t>(stack_.size()) - 1 + depthOffset_);
  }

  // Returns 0, or the number of the failure that stopped it.
  int32_t HandleError(const std::string& vstrErrDesc, double vdblErrNum, int32_t vintErrLine = 0,
                      const std::string& strCustomErrorMessage = {});
  // 1 opens Error.log, 2 Trace.log, in the text editor; other modes do nothing.
  void ShowErrorLog(int16_t Mode);

  // Event sinks, called in the order they were advised. Returns a cookie for unadvise.
  uint32_t advise(std::shared_ptr<HandlerEvents> sink);
  bool unadvise(uint32_t cookie);

 private:
  // The usual Push moves one level on kept storage; the name stack refuses it while tracing, while
  // the depth is out of step with it and at the greatest depth.
  bool pushesInPlace(size_t length) const {
    return procParams_.size() == stack_.size() && procParams_.canGrowInPlace() && stack_.canPushInPlace(length);
  }
  // The general paths say where they leave the depth, whether the stack changed or failed to.
  void keepDepth(int64_t depth) noexcept;
  void allowMovesInPlace() noexcept;
  // Out of line, so that the usual moves need no stack frame of their own.
  [[gnu::noinline]] int32_t pushAnyDepth(std::string_view strProc) noexcept;
  [[gnu::noinline]] int32_t pushConverted(std::u16string_view strProc) noexcept;
  [[gnu::noinline]] int32_t popAnyDepth() noexcept;

  void writeTraceLine(const std::string& strProc);
  void rememberTraced(std::string_view strProc) noexcept;
  std::string defaultFolder() const;
  std::string logPath(const char* fileName) const;
  void buildSections(Steps& step, const SysObj& sys);
  // The number of a failure that kept this report out of Error.log, or 0.
  int32_t writeErrorLog(Steps& step);
  void WriteEventLogEntry(const std::string& message, int16_t type, int32_t id);
  void raiseBeforeHandlerCalled(bool& cancel);
  void raiseAfterHandlerCalled();
  void handOffToDialog(Steps& step);
  // After Error.log, before the dialog: one report for the collector in effect, if any.
  void queueForCollector(const SysObj& sys) noexcept;
  collector::Context applicationFacts(collector::Hub& hub, std::string& release);
  void tellCrashCapture() noexcept;
  // `atCrash`: read from another thread while this one dies, calling no client object.
  std::vector<collector::Frame> framesForCollector(bool atCrash);
  collector::CrashStack stackAtCrash();
  int32_t handleError(const std::string& desc, double num, int32_t line, const std::string& custom);

  Platform& platform_;
  // The creating thread's shared state: a handler is used on the thread that made it.
  ThreadState& threadState_;
  ProcParamTable& procParams_;
  MailValues& mail_;

  std::string currentOperation_;
  std::string destination_;
  ObjectRef cn_;
  ObjectRef appObject_;
  bool useInterface_ = false;
  bool traceExecution_ = false;
  bool logEvent_ = false;
  bool showAppInfo_ = false;
  bool showSysInfo_ = false;
  bool showDBInfo_ = false;
  std::string emailAddress_;
  std::string toName_;
  std::string subject_;
  std::string smtpReply_;  // the latest reply of its own SMTP sessions not yet matched

  std::shared_ptr<SysObj> sysObj_;
  NameStack stack_{2};
  // The depth is the stack's top index plus this, which is 0 but where the two fell out of step:
  // a new stack holds two entries at depth 0, a Push that failed to grow the stack still counted
  // itself, a Pop refused for want of a parameter slot had already cut the stack.
  int64_t depthOffset_ = -1;
  std::string traceFile_;
  std::string traceLine_;  // reused: tracing stays at the cost of the file system calls
  // The latest traced entries with their moments, for the collector's breadcrumbs.
  std::deque<std::pair<double, std::string>> traced_;

  int32_t errNum_ = 0;
  std::string errDesc_;
  int16_t errLine_ = 0;
  std::string procName_;
  std::string customErrMessage_;
  int32_t errorType_ = 0;
  std::string errorLogDisplay_;
  std::string appLogDisplay_;
  std::string sysLogDisplay_;
  std::string dbLogDisplay_;

  std::vector<std::pair<uint32_t, std::shared_ptr<HandlerEvents>>> sinks_;
  uint32_t nextCookie_ = 1;
  bool handling_ = false;
};

}  // namespace quenvar
