#include "quenvar/sys_obj.h"

#include "platform/os_facts.h"
#include "sysinfo/os_info.h"

namespace quenvar {

using namespace basOSInfo;

std::string SysObj::PlatForm() const {
  switch (GetPlatformId(os_)) {
    case VersionRecord::kPlatformWin32s: return "Probably unable to run...";
    case VersionRecord::kPlatformWindows: return "Win9x";
    case VersionRecord::kPlatformNT: return "WinNT";
    case VersionRecord::kPlatformOther: return os_.version().platformName;
    default: return {};
  }
}

std::string SysObj::OsVersion() const { return GetOsVersion(os_); }
std::string SysObj::Build() const { return std::to_string(GetBuildNumber(os_)); }
std::string SysObj::ServicePack() const { return std::to_string(GetServicePack(os_)); }
std::string SysObj::Cpu() const { return GetCpuName(os_); }
std::string SysObj::TotalPhysicalMemory() const { return GetTotalPhysicalMemory(os_, locale_); }
std::string SysObj::AvailablePhysicalMemory() const { return GetAvailablePhysicalMemory(os_, locale_); }
std::string SysObj::TotalVirtualMemory() const { return GetTotalVirtualMemory(os_, locale_); }
std::string SysObj::AvailableVirtualMemory() const { return GetAvailableVirtualMemory(os_, locale_); }

}  // namespace quenvar
