#pragma once
// The operating-system records the system facts are computed from, asked afresh each time.

#include <cstdint>
#include <string>

namespace quenvar {

struct VersionRecord {
  // Identifiers of platformId.
  static constexpr int32_t kPlatformWin32s = 0;
  static constexpr int32_t kPlatformWindows = 1;
  static constexpr int32_t kPlatformNT = 2;
  // Not a Windows identifier: the record then names the platform itself.
  static constexpr int32_t kPlatformOther = 0x7FFF;

  bool ok = false;
  int32_t major = 0, minor = 0, build = 0, platformId = 0;
  std::string servicePack;
  // Platform identifiers beyond the Windows ones name themselves.
  std::string platformName;
};

struct MemoryRecord {
  uint64_t totalPhysical = 0, availablePhysical = 0, totalVirtual = 0, availableVirtual = 0;
};

// The user's home folder, and how a report shows it when the user's names are not to be sent.
struct HomeFolder {
  std::string path;   // empty when it cannot be told
  std::string shown;  // "~", "%USERPROFILE%"
  bool caseless = false;  // the system compares names without letter case
};

// A process as the system knows it: the pid and when it started, so that a pid the system gave
// again to a later process does not pass for the earlier one.
struct ProcessMark {
  int64_t pid = 0;  // 0: the system cannot be asked
  uint64_t started = 0;  // in the system's own units
};

class OsFacts {
 public:
  virtual ~OsFacts() = default;
  virtual VersionRecord version() = 0;
  virtual int32_t processorType() = 0;
  virtual MemoryRecord memory() = 0;
  // The platform text whose systems keep an event log this build writes to.
  virtual std::string eventLogPlatform() = 0;
  // The login name of the user the process runs as; empty when it cannot be told.
  virtual std::string userName() { return {}; }
  virtual HomeFolder homeFolder() { return {}; }
  virtual ProcessMark thisProcess() { return {}; }
  // Whether the process `mark` names still runs; true when it cannot be told.
  virtual bool running(const ProcessMark& /*mark*/) { return true; }
};

}  // namespace quenvar
