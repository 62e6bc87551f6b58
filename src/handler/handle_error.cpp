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
  if (handling_) return err::kHandlerBusy;
  handling_ = true;
  int32_t result = handleError(vstrErrDesc, vdblErrNum, vintErrLine, strCustomErrorMessage);
  handling_ = false;
  return result;
}

int32_t clsErrHandler::handleError(const std::string& desc, double num, int32_t line,
                                   const std::string& custom) {
  Steps step;
  try {
    errLine_ = narrowToInteger(line);
    customErrMessage_ = custom;
    errNum_ = roundToLong(num);
    errDesc_ = desc;
    if (num == 0) return 0;

    CollectDBErrors(cn_, *platform_.locale, errNum_, errDesc_, errorType_);
    const auto depth = static_cast<size_t>(StackDepth());
    if (depth >= stack_.size()) raiseSubscript();
    procName_ = stack_[depth];

    bool cancel = false;
    raiseBeforeHandlerCalled(cancel);

    const SysObj sys(*platform_.os, *platform_.locale);
    int32_t status = 0;
    if (!cancel) {
      step.continuePastFailure();
      buildSections(step, sys);
      step([&] {
        if (destination_.empty()) destination_ = defaultFolder();
      });
      status = writeErrorLog(step);
      queueForCollector(sys);
    }
    step([&] {
      if (logEvent_ &&
          toUpperAscii(sys.PlatForm()) == toUpperAscii(platform_.os->eventLogPlatform()))
        WriteEventLogEntry("Error from " + platform_.module->name() + "\r" + errorLogDisplay_, 1,
                           static_cast<int32_t>(kHandledErrorEventId));
    });
    if (useInterface_) handOffToDialog(step);
    step([&] { raiseAfterHandlerCalled(); });
    const size_t upperBound = stack_.size() - 1;
    for (size_t i = 0; i <= upperBound; ++i) step([&] { (void)Pop(); });
    return status;
  } catch (...) {
    return currentFailure().number();
  }
}

void clsErrHandler::buildSections(Steps& step, const SysObj& sys) {
  ReportInput in{
      .number = errNum_,
      .procedure = procName_,
      .line = errLine_,
      .description = errDesc_,
      .customMessage = customErrMessage_,
      .databaseError = errorType_ != 0,
      .currentOperation = [this] { return currentOperation_; },
      .application = [this] { return appObject_; },
      .connection = [this] { return cn_; },
      .stackEntry = [this](size_t level) -> std::optional<std::string> {
        if (level > static_cast<size_t>(StackDepth())) return std::nullopt;
        if (level >= stack_.size()) raiseSubscript();
        return stack_[level];
      },
      .parameterText = [this] { return ShowParam(); },
  };
  errorLogDisplay_ = errorSection(in, platform_, step);
  applicationSection(in, platform_, step, appLogDisplay_);
  systemSection(sys, step, sysLogDisplay_);
  databaseSection(in, platform_, step, dbLogDisplay_);
}

void clsErrHandler::raiseBeforeHandlerCalled(bool& cancel) {
  // A copy: a sink may unadvise while it runs.
  auto sinks = sinks_;
  for (auto& [cookie, sink] : sinks) sink->BeforeHandlerCalled(cancel);
}

void clsErrHandler::raiseAfterHandlerCalled() {
  auto sinks = sinks_;
  for (auto& [cookie, sink] : sinks) sink->AfterHandlerCalled();
}

void clsErrHandler::handOffToDialog(Steps& step) {
  auto dialog = [this]() -> ErrorDialogHost& { return threadErrorDialog(platform_, threadState_); };
  // Each input its own step: one that fails leaves the others handed over.
  auto set = [&](auto ErrorDialogInput::*input, const auto& value) { step([&] { dialog().set(input, value); }); };
  using In = ErrorDialogInput;
  set(&In::m_dblErrNum, static_cast<double>(errNum_));
  set(&In::m_strDestination, destination_);
  set(&In::m_strErrDetail, errorLogDisplay_);
  set(&In::m_bolTraceExecution, traceExecution_);
  set(&In::ShowAppInfo, showAppInfo_);
  set(&In::ShowDBInfo, showDBInfo_);
  set(&In::ShowSysInfo, showSysInfo_);
  set(&In::AppLog, appLogDisplay_);
  set(&In::SysLog, sysLogDisplay_);
  set(&In::DbLog, dbLogDisplay_);
  set(&In::m_strEmailAddress, emailAddress_);
  set(&In::m_strSubject, subject_);
  set(&In::m_strEmailDetailAPI, std::string());
  set(&In::m_strEmailDetailAPI2, std::string());
  set(&In::m_strToName, toName_);
  step([&] { dialog().refresh(); });
  step([&] { dialog().showModal(); });
}

}  // namespace quenvar
