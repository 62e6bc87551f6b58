#pragma once
// The handler object a client creates once and calls from its procedures and error traps.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quenvar/object.h"
#include "quenvar/variant.h"
#include "quenvar/handler_events.h"
#include "quenvar/detail/name_stack.h"

namespace quenvar {

struct MailValues;
struct Platform;
struct ProcParamTable;
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
  const std::string& CurrentOperation() const { return m_strCurrentOperation; }
  void CurrentOperation(std::string value) { m_strCurrentOperation = std::move(value); }
  const std::string& Destination() const { return m_strDestination; }
  void Destination(const std::string& value);
  ObjectRef Cn() const { return m_objCn; }
  void Cn(const ObjectRef& connection);
  std::string ADOVersion() const;
  ObjectRef AppObject() const { return m_objAppObject; }
  void AppObject(const ObjectRef& application);
  void UseInterface(bool value) { m_bolUseInterface = value; }
  void TraceExecution(bool value);
  bool LogEvent() const { return m_bolLogEvent; }
  void LogEvent(bool value) { m_bolLogEvent = value; }
  bool ShowAppInfo() const { return m_bolShowAppInfo; }
  void ShowAppInfo(bool value) { m_bolShowAppInfo = value; }
  bool ShowSysInfo() const { return m_bolShowSysInfo; }
  void ShowSysInfo(bool value) { m_bolShowSysInfo = value; }
  bool ShowDBInfo() const { return m_bolShowDBInfo; }
  void ShowDBInfo(bool value) { m_bolShowDBInfo = value; }
  std::shared_ptr<SysObj> SysObject();

  // E-mail: the recipient belongs to this handler, the sender and server to the thread, the
  // route and the settings switch to the user's settings store.
  void EmailAddress(const std::string& value);
  void ToName(const std::string& value) { m_strToName = value; }
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
  int32_t ErrNum() const { return m_lngErrNum; }
  const std::string& ErrDesc() const { return m_strErrDesc; }
  std::string ErrLine() const { return std::to_string(m_intErrLine); }
  const std::string& ProcName() const { return m_strProcName; }
  Variant CustomErrMessage() const { return Variant(m_strCustomErrMessage); }
  std::string ErrorType() const { return std::to_string(m_lngErrorType); }
  const std::string& ErrorLogDisplay() const { return m_strErrorLogDisplay; }
  const std::string& AppLogDisplay() const { return m_strAppLogDisplay; }
  const std::string& SysLogDisplay() const { return m_strSysLogDisplay; }
  const std::string& DbLogDisplay() const { return m_strDbLogDisplay; }
  const std::string& MailSubject() const { return m_strSubject; }

  // The procedure stack.
  int32_t Push(std::string_view strProc);
  int32_t Pop();
  void AddParam(const std::string& sParam, const std::string& sType, const Variant& vVal);
  std::string ShowParam();
  VariantArray CallStack() const;
  int32_t StackDepth() const { return m_lngStackDepth; }

  // Returns 0, or the number of the failure that stopped it.
  int32_t HandleError(const std::string& vstrErrDesc, double vdblErrNum, int32_t vintErrLine = 0,
                      const std::string& strCustomErrorMessage = {});
  // 1 opens Error.log, 2 Trace.log, in the text editor; other modes do nothing.
  void ShowErrorLog(int16_t Mode);

  // Event sinks, called in the order they were advised. Returns a cookie for unadvise.
  uint32_t advise(std::shared_ptr<HandlerEvents> sink);
  bool unadvise(uint32_t cookie);

 private:
  void writeTraceLine(const std::string& strProc);
  std::string defaultFolder() const;
  std::string logPath(const char* fileName) const;
  void buildSections(Steps& step, const SysObj& sys);
  // The number of a failure that kept this report out of Error.log, or 0.
  int32_t writeErrorLog(Steps& step);
  void WriteEventLogEntry(const std::string& message, int16_t type, int32_t id);
  void raiseBeforeHandlerCalled(bool& cancel);
  void raiseAfterHandlerCalled();
  void handOffToDialog(Steps& step);
  int32_t handleError(const std::string& desc, double num, int32_t line, const std::string& custom);

  Platform& platform_;
  // The creating thread's shared state: a handler is used on the thread that made it.
  ThreadState& m_threadState;
  ProcParamTable& m_procParams;
  MailValues& m_mail;

  std::string m_strCurrentOperation;
  std::string m_strDestination;
  ObjectRef m_objCn;
  ObjectRef m_objAppObject;
  bool m_bolUseInterface = false;
  bool m_bolTraceExecution = false;
  bool m_bolLogEvent = false;
  bool m_bolShowAppInfo = false;
  bool m_bolShowSysInfo = false;
  bool m_bolShowDBInfo = false;
  std::string m_strEmailAddress;
  std::string m_strToName;
  std::string m_strSubject;

  std::shared_ptr<SysObj> m_objSysObj;
  NameStack m_strStack{2};
  int32_t m_lngStackDepth = 0;
  std::string m_strTraceFile;
  std::string m_traceLine;  // reused: tracing stays at the cost of the file system calls

  int32_t m_lngErrNum = 0;
  std::string m_strErrDesc;
  int16_t m_intErrLine = 0;
  std::string m_strProcName;
  std::string m_strCustomErrMessage;
  int32_t m_lngErrorType = 0;
  std::string m_strErrorLogDisplay;
  std::string m_strAppLogDisplay;
  std::string m_strSysLogDisplay;
  std::string m_strDbLogDisplay;

  std::vector<std::pair<uint32_t, std::shared_ptr<HandlerEvents>>> m_sinks;
  uint32_t m_nextCookie = 1;
  bool m_bolHandling = false;
};

}  // namespace quenvar
