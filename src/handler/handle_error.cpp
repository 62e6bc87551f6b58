#include "quenvar/automation_error.h"
#include "core/component.h"
#include "core/steps.h"
#include "core/text.h"
#include "dialogs/error_dialog_host.h"
#include "quenvar/err_handler.h"
#include "platform/platform.h"
#include "report/db_errors.h"
#include "report/report.h"
#include "quenvar/sys_obj.h"

namespace quenvar {

int32_t clsErrHandler::HandleError(const std::string& vstrErrDesc, double vdblErrNum,
                                   int32_t vintErrLine, const std::string& strCustomErrorMessage) {
  // A call from inside one of its own events would rebuild the report and unwind the stack
  // under the outer call: refuse it and leave everything to the outer call.
  if (m_bolHandling) return err::kHandlerBusy;
  m_bolHandling = true;
  int32_t result = handleError(vstrErrDesc, vdblErrNum, vintErrLine, strCustomErrorMessage);
  m_bolHandling = false;
  return result;
}

int32_t clsErrHandler::handleError(const std::string& desc, double num, int32_t line,
                                   const std::string& custom) {
  Steps step;
  try {
    m_intErrLine = narrowToInteger(line);
    m_strCustomErrMessage = custom;
    m_lngErrNum = roundToLong(num);
    m_strErrDesc = desc;
    if (num == 0) return 0;

    CollectDBErrors(m_objCn, *platform_.locale, m_lngErrNum, m_strErrDesc, m_lngErrorType);
    if (static_cast<size_t>(m_lngStackDepth) >= m_strStack.size()) raiseSubscript();
    m_strProcName = m_strStack[static_cast<size_t>(m_lngStackDepth)];

    bool cancel = false;
    raiseBeforeHandlerCalled(cancel);

    const SysObj sys(*platform_.os, *platform_.locale);
    int32_t status = 0;
    if (!cancel) {
      step.continuePastFailure();
      buildSections(step, sys);
      step([&] {
        if (m_strDestination.empty()) m_strDestination = defaultFolder();
      });
      status = writeErrorLog(step);
    }
    step([&] {
      if (m_bolLogEvent &&
          toUpperAscii(sys.PlatForm()) == toUpperAscii(platform_.os->eventLogPlatform()))
        WriteEventLogEntry("Error from " + platform_.module->name() + "\r" + m_strErrorLogDisplay, 1, 1003);
    });
    if (m_bolUseInterface) handOffToDialog(step);
    step([&] { raiseAfterHandlerCalled(); });
    const size_t upperBound = m_strStack.size() - 1;
    for (size_t i = 0; i <= upperBound; ++i) step([&] { (void)Pop(); });
    return status;
  } catch (...) {
    return currentFailure().number();
  }
}

void clsErrHandler::buildSections(Steps& step, const SysObj& sys) {
  ReportInput in{
      .number = m_lngErrNum,
      .procedure = m_strProcName,
      .line = m_intErrLine,
      .description = m_strErrDesc,
      .customMessage = m_strCustomErrMessage,
      .databaseError = m_lngErrorType != 0,
      .currentOperation = m_strCurrentOperation,
      .application = [this] { return m_objAppObject; },
      .connection = [this] { return m_objCn; },
      .stackEntry = [this](size_t level) -> std::optional<std::string> {
        if (level > static_cast<size_t>(m_lngStackDepth)) return std::nullopt;
        if (level >= m_strStack.size()) raiseSubscript();
        return m_strStack[level];
      },
      .parameterText = [this] { return ShowParam(); },
  };
  m_strErrorLogDisplay = errorSection(in, platform_, step);
  m_strAppLogDisplay = applicationSection(in, platform_, step);
  m_strSysLogDisplay = systemSection(sys, step);
  m_strDbLogDisplay = databaseSection(in, platform_, step);
}

void clsErrHandler::raiseBeforeHandlerCalled(bool& cancel) {
  // A copy: a sink may unadvise while it runs.
  auto sinks = m_sinks;
  for (auto& [cookie, sink] : sinks) sink->BeforeHandlerCalled(cancel);
}

void clsErrHandler::raiseAfterHandlerCalled() {
  auto sinks = m_sinks;
  for (auto& [cookie, sink] : sinks) sink->AfterHandlerCalled();
}

void clsErrHandler::handOffToDialog(Steps& step) {
  auto dialog = [this]() -> ErrorDialogHost& { return threadErrorDialog(platform_, m_threadState); };
  // Each input its own step: one that fails leaves the others handed over.
  auto set = [&](auto ErrorDialogInput::*input, const auto& value) { step([&] { dialog().set(input, value); }); };
  using In = ErrorDialogInput;
  set(&In::m_dblErrNum, static_cast<double>(m_lngErrNum));
  set(&In::m_strDestination, m_strDestination);
  set(&In::m_strErrDetail, m_strErrorLogDisplay);
  set(&In::m_bolTraceExecution, m_bolTraceExecution);
  set(&In::ShowAppInfo, m_bolShowAppInfo);
  set(&In::ShowDBInfo, m_bolShowDBInfo);
  set(&In::ShowSysInfo, m_bolShowSysInfo);
  set(&In::AppLog, m_strAppLogDisplay);
  set(&In::SysLog, m_strSysLogDisplay);
  set(&In::DbLog, m_strDbLogDisplay);
  set(&In::m_strEmailAddress, m_strEmailAddress);
  set(&In::m_strSubject, m_strSubject);
  set(&In::m_strEmailDetailAPI, std::string());
  set(&In::m_strEmailDetailAPI2, std::string());
  set(&In::m_strToName, m_strToName);
  step([&] { dialog().refresh(); });
  step([&] { dialog().showModal(); });
}

}  // namespace quenvar
