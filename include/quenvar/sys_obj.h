#pragma once
// Nine facts about the machine, as display strings. Stateless: every read asks again.

#include <string>

namespace quenvar {

class OsFacts;
class LocaleText;

class SysObj {
 public:
  SysObj(OsFacts& os, const LocaleText& locale) : os_(os), locale_(locale) {}

  std::string PlatForm() const;
  std::string OsVersion() const;
  std::string Build() const;
  std::string ServicePack() const;
  std::string Cpu() const;
  std::string TotalPhysicalMemory() const;
  std::string AvailablePhysicalMemory() const;
  std::string TotalVirtualMemory() const;
  std::string AvailableVirtualMemory() const;

 private:
  OsFacts& os_;
  const LocaleText& locale_;
};

}  // namespace quenvar
