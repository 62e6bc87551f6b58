#pragma once

#include "platform/event_log.h"

namespace quenvar {

// The Application log, through a source registered for this one entry. Text goes in the ANSI
// code page, once as the insertion string and once, with its terminating zero, as raw data.
class Win32EventLog : public EventLog {
 public:
  uint32_t report(const EventRecord& record) override;
};

}  // namespace quenvar
