#pragma once
// Entries go straight to the syslog socket rather than through libc's syslog(), which
// cannot tell its caller that nothing was written.

#include <string>

#include "platform/event_log.h"

namespace quenvar {

class SyslogEventLog : public EventLog {
 public:
  explicit SyslogEventLog(std::string socketPath = "/dev/log") : socketPath_(std::move(socketPath)) {}
  uint32_t report(const EventRecord& record) override;

 private:
  std::string socketPath_;
};

}  // namespace quenvar
