#pragma once

#include "platform/os_facts.h"

namespace quenvar {

class Win32OsFacts : public OsFacts {
 public:
  VersionRecord version() override;
  int32_t processorType() override;
  MemoryRecord memory() override;
  std::string eventLogPlatform() override { return "WinNT"; }
  std::string userName() override;
  HomeFolder homeFolder() override;
  ProcessMark thisProcess() override;
  bool running(const ProcessMark& mark) override;
};

}  // namespace quenvar
