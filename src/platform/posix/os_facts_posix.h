#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/os_facts.h"

namespace quenvar {

class PosixOsFacts : public OsFacts {
 public:
  VersionRecord version() override;
  int32_t processorType() override;
  MemoryRecord memory() override;
  std::string eventLogPlatform() override;
  std::string userName() override;
  HomeFolder homeFolder() override;
  ProcessMark thisProcess() override;
  bool running(const ProcessMark& mark) override;

  // Field 22 of a /proc/<pid>/stat text, the start time since boot; nothing when malformed.
  static std::optional<uint64_t> startTimeOf(std::string_view stat);

  // The leading dotted numbers of a kernel release: "6.1.0-13-amd64" gives 6, 1, 0.
  static void parseRelease(std::string_view release, int32_t& major, int32_t& minor, int32_t& build);
  static int32_t processorTypeOf(std::string_view machine);
};

}  // namespace quenvar
