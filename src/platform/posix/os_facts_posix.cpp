#include "platform/posix/os_facts_posix.h"
#include "platform/posix/interrupted.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>


namespace quenvar {

namespace {

// This process's mapped address space in bytes; 0 when /proc cannot say.
uint64_t addressSpaceInUse() {
  const int fd = posix::retryInterrupted([] { return ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return 0;
  char buffer[128];
  const ssize_t n = posix::retryInterrupted([&] { return ::read(fd, buffer, sizeof buffer - 1); });
  ::close(fd);
  if (n <= 0) return 0;
  uint64_t pages = 0;
  for (ssize_t i = 0; i < n && buffer[i] >= '0' && buffer[i] <= '9'; ++i)
    pages = pages * 10 + static_cast<uint64_t>(buffer[i] - '0');
  static const long pageSize = ::sysconf(_SC_PAGESIZE);
  return pageSize > 0 ? pages * static_cast<uint64_t>(pageSize) : 0;
}

uint64_t addressSpaceLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) return limit.rlim_cur;
  // The user part of the address space: 3 GiB under a 32-bit kernel's usual split, 47 bits
  // with 4-level page tables.
  return sizeof(void*) == 4 ? uint64_t{3} << 30 : uint64_t{1} << 47;
}

// The start time /proc gives for `pid`; ENOENT in errno when there is no such process.
std::optional<uint64_t> startTime(const std::string& pid) {
  const int fd = posix::retryInterrupted([&] { return ::open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  const ssize_t n = posix::retryInterrupted([&] { return ::read(fd, buffer, sizeof buffer); });
  const int readError = errno;
  ::close(fd);
  // A process that ended between the open and the read answers ESRCH.
  errno = n >= 0 ? 0 : readError == ESRCH ? ENOENT : readError;
  return n > 0 ? PosixOsFacts::startTimeOf(std::string_view(buffer, static_cast<size_t>(n))) : std::nullopt;
}

}  // namespace

void PosixOsFacts::parseRelease(std::string_view release, int32_t& major, int32_t& minor, int32_t& build) {
  int32_t* fields[] = {&major, &minor, &build};
  for (int32_t* field : fields) *field = 0;
  size_t i = 0;
  for (int32_t* field : fields) {
    if (i >= release.size() || release[i] < '0' || release[i] > '9') return;
    int64_t value = 0;
    for (; i < release.size() && release[i] >= '0' && release[i] <= '9'; ++i)
      value = std::min<int64_t>(value * 10 + (release[i] - '0'), INT32_MAX);
    *field = static_cast<int32_t>(value);
    // Only the dotted head counts: in "5.15-rc2" the 2 is not a build number.
    if (i >= release.size() || release[i] != '.') return;
    ++i;
  }
}

int32_t PosixOsFacts::processorTypeOf(std::string_view machine) {
  if (machine == "i386") return 386;
  if (machine == "i486") return 486;
  if (machine == "i586" || machine == "i686") return 586;
  if (machine == "x86_64") return 8664;
  if (machine == "mips") return 4000;
  if (machine == "alpha") return 21064;
  return 0;
}

VersionRecord PosixOsFacts::version() {
  VersionRecord record;
  struct utsname names {};
  if (::uname(&names) != 0) return record;
  record.ok = true;
  record.platformId = VersionRecord::kPlatformOther;
  record.platformName = names.sysname;
  parseRelease(names.release, record.major, record.minor, record.build);
  return record;
}

int32_t PosixOsFacts::processorType() {
  struct utsname names {};
  return ::uname(&names) == 0 ? processorTypeOf(names.machine) : 0;
}

MemoryRecord PosixOsFacts::memory() {
  MemoryRecord record;
  struct sysinfo info {};
  if (::sysinfo(&info) == 0) {
    const uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
    record.totalPhysical = static_cast<uint64_t>(info.totalram) * unit;
    record.availablePhysical = (static_cast<uint64_t>(info.freeram) + info.bufferram) * unit;
  }
  record.totalVirtual = addressSpaceLimit();
  const uint64_t used = addressSpaceInUse();
  record.availableVirtual = used < record.totalVirtual ? record.totalVirtual - used : 0;
  return record;
}

std::string PosixOsFacts::eventLogPlatform() {
  struct utsname names {};
  return ::uname(&names) == 0 ? names.sysname : std::string();
}

HomeFolder PosixOsFacts::homeFolder() {
  std::string path;
  if (const char* home = ::getenv("HOME"); home != nullptr && home[0] == '/') {
    path = home;
  } else {
    std::vector<char> buffer(4096);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
      path = found->pw_dir;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return {path, "~", false};
}

std::string PosixOsFacts::userName() {
  std::vector<char> buffer(4096);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr)
    return found->pw_name;
  return {};
}

std::optional<uint64_t> PosixOsFacts::startTimeOf(std::string_view stat) {
  // The command name stands in parentheses and may hold anything, ")" and blanks too.
  const size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat.substr(close + 1);
  for (int field = 3; field < 22; ++field) {
    const size_t blank = rest.find(' ', 1);
    if (blank == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(blank);
  }
  if (rest.empty() || rest[0] != ' ') return std::nullopt;
  rest.remove_prefix(1);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end == rest.data() || (end != rest.data() + rest.size() && *end != ' '))
    return std::nullopt;
  return value;
}

ProcessMark PosixOsFacts::thisProcess() {
  // Without /proc the start time is 0, and liveness falls back to the pid alone.
  return {static_cast<int64_t>(::getpid()), startTime("self").value_or(0)};
}

bool PosixOsFacts::running(const ProcessMark& mark) {
  if (mark.pid <= 0) return true;
  if (mark.started != 0 && startTime("self")) {
    const std::optional<uint64_t> started = startTime(std::to_string(mark.pid));
    if (started) return *started == mark.started;
    if (errno == ENOENT) return false;
  }
  return ::kill(static_cast<pid_t>(mark.pid), 0) == 0 || errno == EPERM;
}

}  // namespace quenvar
