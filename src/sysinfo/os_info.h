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
// Identifiers the version record reports.
inline constexpr int32_t kPlatformWin32s = 0;
inline constexpr int32_t kPlatformWindows = 1;
inline constexpr int32_t kPlatformNT = 2;
// Not a Windows identifier: the record then names the platform itself.
inline constexpr int32_t kPlatformOther = 0x7FFF;
}  // namespace basOSInfo

}  // namespace quenvar
