#include "platform/posix/os_facts_posix.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <optional>
#include <string>

#include "sysinfo/os_info.h"

namespace quenvar {
namespace {

std::vector<int32_t> release(std::string_view text) {
  std::vector<int32_t> numbers(3, -1);
  PosixOsFacts::parseRelease(text, numbers[0], numbers[1], numbers[2]);
  return numbers;
}

TEST(PosixOsFacts, VersionAndProcessorFromUname) {
  EXPECT_EQ(release("6.1.0-13-amd64"), (std::vector<int32_t>{6, 1, 0}));
  EXPECT_EQ(release("5.15-rc2"), (std::vector<int32_t>{5, 15, 0}));
  EXPECT_EQ(release("v6.1"), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(release("99999999999.2.3"), (std::vector<int32_t>{INT32_MAX, 2, 3}));
  EXPECT_EQ(PosixOsFacts::processorTypeOf("i686"), 586);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("x86_64"), 8664);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("alpha"), 21064);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("aarch64"), 0);

  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  PosixOsFacts os;
  const VersionRecord v = os.version();
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.platformId, VersionRecord::kPlatformOther);
  EXPECT_EQ(v.platformName, names.sysname);
  EXPECT_FALSE(v.platformName.empty());
  EXPECT_EQ(release(names.release), (std::vector<int32_t>{v.major, v.minor, v.build}));
  EXPECT_EQ(os.eventLogPlatform(), v.platformName);
  EXPECT_EQ(os.processorType(), PosixOsFacts::processorTypeOf(names.machine));
}

TEST(PosixOsFacts, MemoryAgreesWithTheKernel) {
  const MemoryRecord m = PosixOsFacts().memory();
  std::ifstream meminfo("/proc/meminfo");
  std::string label;
  uint64_t totalKb = 0;
  meminfo >> label >> totalKb;
  ASSERT_EQ(label, "MemTotal:");
  EXPECT_EQ(m.totalPhysical, totalKb * 1024);
  EXPECT_GT(m.availablePhysical, 0u);
  EXPECT_LE(m.availablePhysical, m.totalPhysical);
  EXPECT_LT(m.availableVirtual, m.totalVirtual);  // this process itself takes some
}

TEST(PosixOsFacts, AnAddressSpaceLimitBoundsVirtualMemory) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    constexpr uint64_t kLimit = uint64_t{64} << 40;
    const rlimit limit{kLimit, kLimit};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    const MemoryRecord m = PosixOsFacts().memory();
    ::_exit(m.totalVirtual == kLimit && m.availableVirtual < kLimit ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The start time is field 22, counted past a command name that may hold ")" and blanks.
TEST(PosixOsFacts, StartTimeFromAStatLine) {
  const std::string tail = " 1 1 0 0 -1 4194560 100 0 0 0 0 0 0 0 20 0 1 0 ";
  const struct {
    std::string stat;
    std::optional<uint64_t> started;
  } cases[] = {
      {"42 (orders) S" + tail + "8812 123 456", 8812},
      {"42 (a) b) c (d) S" + tail + "77 1", 77},
      {"42 (orders) S" + tail + "88x12 1", std::nullopt},
      {"42 (orders) S 1 1 0", std::nullopt},
      {"42 orders S" + tail + "8812 1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(PosixOsFacts::startTimeOf(c.stat), c.started) << c.stat;
}

// This process runs; a child that ended does not, nor does a process of this pid that started
// at another moment (the pid given again).
TEST(PosixOsFacts, RunningKnowsAProcessByItsPidAndStart) {
  PosixOsFacts os;
  const ProcessMark self = os.thisProcess();
  EXPECT_EQ(self.pid, ::getpid());
  EXPECT_GT(self.started, 0u);
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const struct {
    const char* name;
    ProcessMark mark;
    bool running;
  } cases[] = {
      {"this process", self, true},
      {"its pid, another start", {self.pid, self.started + 1}, false},
      {"a child that ended", {child, self.started}, false},
      {"not to be told", {0, 0}, true},
  };
  for (const auto& c : cases) EXPECT_EQ(os.running(c.mark), c.running) << c.name;
}

}  // namespace
}  // namespace quenvar
