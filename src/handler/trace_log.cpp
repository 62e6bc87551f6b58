#include "core/steps.h"
#include "quenvar/err_handler.h"
#include "platform/platform.h"

namespace quenvar {

void clsErrHandler::TraceExecution(bool value) {
  traceExecution_ = value;
  allowMovesInPlace();
  if (!value) return;
  try {
    // Straight into the field: unlike the property, no separator is dropped, nothing created.
    if (destination_.empty()) destination_ = defaultFolder();
    traceFile_ = logPath("Trace.log");
    if (platform_.files->fileExists(traceFile_)) platform_.files->deleteFile(traceFile_);
  } catch (...) {
    (void)currentFailure();
  }
}

void clsErrHandler::writeTraceLine(const std::string& strProc) {
  // A failed write closes its file at once: nothing is left open between calls.
  std::unique_ptr<OpenFile> file = platform_.files->open(traceFile_, FileSystem::Mode::Append);
  traceLine_.assign(strProc).append("\r\n");
  file->write(traceLine_);
  file->close();
}

}  // namespace quenvar
