#include "sysinfo/os_info.h"

#include "platform/locale_text.h"
#include "platform/os_facts.h"

namespace quenvar::basOSInfo {

int32_t GetPlatformId(OsFacts& os) {
  VersionRecord v = os.version();
  return v.ok ? v.platformId : 0;
}

std::string GetOsVersion(OsFacts& os) {
  VersionRecord v = os.version();
  std::string minor = "0" + std::to_string(v.minor);
  return std::to_string(v.major) + "." + minor.substr(minor.size() - 2);
}

int32_t GetBuildNumber(OsFacts& os) { return os.version().build; }

int32_t GetServicePack(OsFacts& os) {
  VersionRecord v = os.version();
  if (v.major != 4) return 0;
  for (char digit : {'3', '4', '5', '6'}) {
    if (v.servicePack.find(digit) != std::string::npos) return digit - '0';
  }
  return 0;
}

std::string GetCpuName(OsFacts& os) {
  switch (os.processorType()) {
    case 386: return "Intel 386";
    case 486: return "Intel 486";
    case 586: return "Intel Pentium";
    case 4000: return "MIPS R4000";
    case 21064: return "DEC Alpha 21064";
    default: return "(unknown)";
  }
}

std::string FormatKilobytes(uint64_t bytes, const LocaleText& locale) {
  // 64-bit counts: 2 GB and more stay positive and whole.
  return locale.groupedInteger(static_cast<int64_t>(bytes / 1024)) + "K";
}

std::string GetTotalPhysicalMemory(OsFacts& os, const LocaleText& locale) {
  return FormatKilobytes(os.memory().totalPhysical, locale);
}
std::string GetAvailablePhysicalMemory(OsFacts& os, const LocaleText& locale) {
  return FormatKilobytes(os.memory().availablePhysical, locale);
}
std::string GetTotalVirtualMemory(OsFacts& os, const LocaleText& locale) {
  return FormatKilobytes(os.memory().totalVirtual, locale);
}
std::string GetAvailableVirtualMemory(OsFacts& os, const LocaleText& locale) {
  return FormatKilobytes(os.memory().availableVirtual, locale);
}

}  // namespace quenvar::basOSInfo
