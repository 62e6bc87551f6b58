#include "platform/posix/posix_os_facts.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <fstream>

#include "sysinfo/os_info.h"

namespace quenvar {
namespace {

struct Release {
  int32_t major, minor, build;
  bool operator==(const Release&) const = default;
};
Release parse(std::string_view release) {
  Release r{-1, -1, -1};
  PosixOsFacts::parseRelease(release, r.major, r.minor, r.build);
  return r;
}

TEST(PosixOsFacts, VersionComesFromTheKernelRelease) {
  EXPECT_EQ(parse("6.1.0-13-amd64"), (Release{6, 1, 0}));
  EXPECT_EQ(parse("5.15-rc2"), (Release{5, 15, 0}));
  EXPECT_EQ(parse("10"), (Release{10, 0, 0}));
  EXPECT_EQ(parse("v6.1"), (Release{0, 0, 0}));
  EXPECT_EQ(parse("99999999999.2.3"), (Release{INT32_MAX, 2, 3}));

  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  PosixOsFacts os;
  const VersionRecord v = os.version();
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.platformId, basOSInfo::kPlatformOther);
  EXPECT_EQ(v.platformName, names.sysname);
  EXPECT_FALSE(v.platformName.empty());
  EXPECT_EQ(parse(names.release), (Release{v.major, v.minor, v.build}));
  EXPECT_TRUE(v.servicePack.empty());
  EXPECT_EQ(os.eventLogPlatform(), v.platformName);
}

TEST(PosixOsFacts, ProcessorTypesOfTheKnownMachines) {
  EXPECT_EQ(PosixOsFacts::processorTypeOf("i386"), 386);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("i686"), 586);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("x86_64"), 8664);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("mips"), 4000);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("alpha"), 21064);
  EXPECT_EQ(PosixOsFacts::processorTypeOf("aarch64"), 0);
  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  EXPECT_EQ(PosixOsFacts().processorType(), PosixOsFacts::processorTypeOf(names.machine));
}

TEST(PosixOsFacts, MemoryAgreesWithTheKernel) {
  const MemoryRecord m = PosixOsFacts().memory();
  uint64_t totalKb = 0;
  std::ifstream meminfo("/proc/meminfo");
  for (std::string label; meminfo >> label;) {
    if (label == "MemTotal:") {
      meminfo >> totalKb;
      break;
    }
  }
  EXPECT_EQ(m.totalPhysical, totalKb * 1024);
  EXPECT_GT(m.availablePhysical, 0u);
  EXPECT_LE(m.availablePhysical, m.totalPhysical);
  EXPECT_GT(m.totalVirtual, 0u);
  EXPECT_LT(m.availableVirtual, m.totalVirtual);  // this process itself takes some
}

TEST(PosixOsFacts, AnAddressSpaceLimitBoundsVirtualMemory) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    constexpr uint64_t kLimit = uint64_t{64} << 40;
    rlimit limit{kLimit, kLimit};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    const MemoryRecord m = PosixOsFacts().memory();
    ::_exit(m.totalVirtual == kLimit && m.availableVirtual < kLimit ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quenvar
