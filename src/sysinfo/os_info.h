#pragma once
// The operating-system probes behind SysObj; each asks the platform afresh.

#include <cstdint>
#include <string>

namespace quenvar {

class OsFacts;
class LocaleText;

namespace basOSInfo {
int32_t GetPlatformId(OsFacts& os);
std::string GetOsVersion(OsFacts& os);
int32_t GetBuildNumber(OsFacts& os);
int32_t GetServicePack(OsFacts& os);
std::string GetCpuName(OsFacts& os);
std::string GetTotalPhysicalMemory(OsFacts& os, const LocaleText& locale);
std::string GetAvailablePhysicalMemory(OsFacts& os, const LocaleText& locale);
std::string GetTotalVirtualMemory(OsFacts& os, const LocaleText& locale);
std::string GetAvailableVirtualMemory(OsFacts& os, const LocaleText& locale);

// Bytes as whole kilobytes, grouped, then "K"; less than one kilobyte gives just "K".
std::string FormatKilobytes(uint64_t bytes, const LocaleText& locale);
}  // namespace basOSInfo

}  // namespace quenvar
