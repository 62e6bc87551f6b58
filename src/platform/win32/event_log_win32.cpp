#include "platform/win32/event_log_win32.h"

#include <vector>

#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {
// A failed call is never reported as success, even if it left no error code behind.
uint32_t lastError() {
  const DWORD code = ::GetLastError();
  return code != 0 ? code : ERROR_GEN_FAILURE;
}
}  // namespace

uint32_t Win32EventLog::report(const EventRecord& record) {
  const std::string text = win32::toAnsi(record.text);
  if (text.size() >= MAXDWORD) return ERROR_INVALID_PARAMETER;
  std::vector<char> buffer(text.size() + 1, '\0');
  text.copy(buffer.data(), text.size());
  const char* strings[] = {buffer.data()};

  const HANDLE log = ::RegisterEventSourceA(nullptr, win32::toAnsi(record.source).c_str());
  if (log == nullptr) return lastError();
  const uint32_t result = ::ReportEventA(log, record.type, record.category, record.id, nullptr, 1,
                                         static_cast<DWORD>(buffer.size()), strings, buffer.data())
                              ? 0
                              : lastError();
  ::DeregisterEventSource(log);
  return result;
}

}  // namespace quenvar
