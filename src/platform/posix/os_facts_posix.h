#pragma once

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

  // The leading dotted numbers of a kernel release: "6.1.0-13-amd64" gives 6, 1, 0.
  static void parseRelease(std::string_view release, int32_t& major, int32_t& minor, int32_t& build);
  static int32_t processorTypeOf(std::string_view machine);
};

}  // namespace quenvar
