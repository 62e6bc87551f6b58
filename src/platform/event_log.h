#pragma once

#include <cstdint>
#include <string>

namespace quenvar {

struct EventRecord {
  std::string source;
  uint16_t type = 0;
  uint16_t category = 0;
  uint32_t id = 0;
  // One insertion string. Where the log keeps raw data, the backend attaches the text as written,
  // with its terminating zero.
  std::string text;
};

class EventLog {
 public:
  virtual ~EventLog() = default;
  // 0 when the entry was written, else the platform's error code.
  virtual uint32_t report(const EventRecord& record) = 0;
};

}  // namespace quenvar
