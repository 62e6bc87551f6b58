#include <chrono>

#include "collector/event.h"
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
    traced_.clear();  // they follow Trace.log, which starts anew
    if (platform_.files->fileExists(traceFile_)) platform_.files->deleteFile(traceFile_);
  } catch (...) {
    (void)currentFailure();
  }
}

void clsErrHandler::writeTraceLine(const std::string& strProc) {
  rememberTraced(strProc);  // before the file: an entry the file refused was still made
  // A failed write closes its file at once: nothing is left open between calls.
  std::unique_ptr<OpenFile> file = platform_.files->open(traceFile_, FileSystem::Mode::Append);
  traceLine_.assign(strProc).append("\r\n");
  file->write(traceLine_);
  file->close();
}

void clsErrHandler::rememberTraced(std::string_view strProc) noexcept {
  try {
    if (traced_.size() >= collector::kMostBreadcrumbs) traced_.pop_front();
    // One byte past what the collector keeps, so its cut still sees where a character begins.
    traced_.emplace_back(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
                         strProc.substr(0, collector::kMostValueBytes + 1));
  } catch (...) {
    // Out of memory: the trail is a courtesy, the trace itself goes on.
  }
}

}  // namespace quenvar
