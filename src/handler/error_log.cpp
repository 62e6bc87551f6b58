// The report's outlets besides the dialog: Error.log, the log viewer and the event log.

#include "core/component.h"
#include "core/steps.h"
#include "quenvar/err_handler.h"
#include "platform/platform.h"

namespace quenvar {

int32_t clsErrHandler::writeErrorLog(Steps& step) {
  // A folder or file that may not be written is skipped silently. Once the file is open, a
  // write that fails (a full disk) leaves the previous log whole, and the caller is told.
  std::unique_ptr<OpenFile> file;
  step([&] { file = platform_.files->open(logPath("Error.log"), FileSystem::Mode::Replace); });
  if (!file) return 0;
  try {
    file->write(errorLogDisplay_ + "\r\n");
    file->close();
    return 0;
  } catch (...) {
    return currentFailure().number();
  }
}

void clsErrHandler::ShowErrorLog(int16_t Mode) {
  const char* fileName;
  const char* title;
  const char* missing;
  switch (Mode) {
    case 1: fileName = "Error.log", title = "Error Log", missing = "Error Log not created"; break;
    case 2: fileName = "Trace.log", title = "Trace Log", missing = "Trace Log not created"; break;
    default: return;
  }
  const std::string path = logPath(fileName);
  if (!platform_.files->fileExists(path)) {
    platform_.messageBox->show(missing, title, MessageBoxService::kOk);
    return;
  }
  platform_.launcher->openInEditor(path);
}

void clsErrHandler::WriteEventLogEntry(const std::string& message, int16_t type, int32_t id) {
  EventRecord record{kComponentTitle, static_cast<uint16_t>(type), 0, static_cast<uint32_t>(id), message};
  if (uint32_t code = platform_.eventLog->report(record); code != 0)
    platform_.messageBox->show(std::to_string(code), kComponentTitle, MessageBoxService::kOk);
}

}  // namespace quenvar
