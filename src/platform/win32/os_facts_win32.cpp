#include "platform/win32/os_facts_win32.h"

#include <algorithm>

#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace quenvar {

namespace {

using GetVersionExAFunction = BOOL(WINAPI*)(OSVERSIONINFOA*);

// Reached by name: compilers mark the call deprecated, and the record it gives is exactly the
// one the system facts are defined by.
GetVersionExAFunction getVersionExA() {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC address = kernel ? ::GetProcAddress(kernel, "GetVersionExA") : nullptr;
  // Through the generic function pointer type, the one conversion compilers accept silently.
  return reinterpret_cast<GetVersionExAFunction>(reinterpret_cast<void (*)()>(address));
}

std::string profileFolder() {
  std::string path;
  PWSTR known = nullptr;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &known)) && known != nullptr)
    path = win32::narrow(known);
  ::CoTaskMemFree(known);
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

}  // namespace

VersionRecord Win32OsFacts::version() {
  VersionRecord record;
  static const GetVersionExAFunction query = getVersionExA();
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  record.ok = query != nullptr && query(&info) != 0;
  if (!record.ok) return record;
  record.major = static_cast<int32_t>(info.dwMajorVersion);
  record.minor = static_cast<int32_t>(info.dwMinorVersion);
  record.build = static_cast<int32_t>(info.dwBuildNumber);
  record.platformId = static_cast<int32_t>(info.dwPlatformId);
  const char* csd = info.szCSDVersion;
  const char* csdEnd = std::find(csd, csd + sizeof info.szCSDVersion, '\0');
  record.servicePack = win32::fromAnsi(std::string_view(csd, static_cast<size_t>(csdEnd - csd)));
  return record;
}

int32_t Win32OsFacts::processorType() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return static_cast<int32_t>(info.dwProcessorType);
}

MemoryRecord Win32OsFacts::memory() {
  MemoryRecord record;
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return record;
  record.totalPhysical = status.ullTotalPhys;
  record.availablePhysical = status.ullAvailPhys;
  record.totalVirtual = status.ullTotalVirtual;
  record.availableVirtual = status.ullAvailVirtual;
  return record;
}

HomeFolder Win32OsFacts::homeFolder() {
  // Looked up once a process when found: every report queued asks, and the lookup reads the
  // registry. Never destroyed, as the DLL's exit handlers may still ask.
  static const std::string& found = *new std::string(profileFolder());
  return {found.empty() ? profileFolder() : found, "%USERPROFILE%", true};
}

std::string Win32OsFacts::userName() {
  wchar_t name[257];  // UNLEN + 1
  DWORD size = 257;
  if (!::GetUserNameW(name, &size) || size == 0) return {};
  return win32::narrow(std::wstring_view(name, size - 1));
}

namespace {

// The moment the process `handle` names was made, in FILETIME units; 0 when it cannot be asked.
uint64_t creationTime(HANDLE handle) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(handle, &created, &exited, &kernel, &user)) return 0;
  return uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
}

}  // namespace

ProcessMark Win32OsFacts::thisProcess() {
  return {static_cast<int64_t>(::GetCurrentProcessId()), creationTime(::GetCurrentProcess())};
}

// A process that ended is still opened while another holds a handle to it: it has signalled,
// and its pid is not given again until the last handle goes.
bool Win32OsFacts::running(const ProcessMark& mark) {
  if (mark.pid <= 0 || mark.pid > 0xFFFFFFFFLL) return mark.pid <= 0;
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(mark.pid));
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // denied: another user's, running
  const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  const uint64_t started = creationTime(process);
  ::CloseHandle(process);
  return !ended && (mark.started == 0 || started == 0 || started == mark.started);
}

}  // namespace quenvar
