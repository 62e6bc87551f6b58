#include "core/steps.h"
#include "quenvar/err_handler.h"
#include "platform/platform.h"

namespace quenvar {

void clsErrHandler::TraceExecution(bool value) {
  m_bolTraceExecution = value;
  if (!value) return;
  try {
    // Straight into the field: unlike the property, no separator is dropped, nothing created.
    if (m_strDestination.empty()) m_strDestination = defaultFolder();
    m_strTraceFile = logPath("Trace.log");
    if (platform_.files->fileExists(m_strTraceFile)) platform_.files->deleteFile(m_strTraceFile);
  } catch (...) {
    (void)currentFailure();
  }
}

void clsErrHandler::writeTraceLine(const std::string& strProc) {
  // A failed write closes its file at once: nothing is left open between calls.
  std::unique_ptr<OpenFile> file = platform_.files->open(m_strTraceFile, FileSystem::Mode::Append);
  m_traceLine.assign(strProc).append("\r\n");
  file->write(m_traceLine);
  file->close();
}

}  // namespace quenvar
