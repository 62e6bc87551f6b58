#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "sysinfo/os_info.h"
#include "quenvar/sys_obj.h"

namespace quenvar {
namespace {

struct SysInfo : ::testing::Test {
  fake::OsFacts os;
  fake::LocaleText locale;
  SysObj sys{os, locale};

  void version(int32_t major, int32_t minor, int32_t build, const char* servicePack) {
    os.versionRecord = VersionRecord{true, major, minor, build, 2, servicePack, ""};
  }
};

TEST_F(SysInfo, VersionBuildAndServicePack) {
  version(5, 0, 2195, "Service Pack 4");
  EXPECT_EQ(sys.OsVersion(), "5.00");
  EXPECT_EQ(sys.Build(), "2195");
  EXPECT_EQ(sys.ServicePack(), "0") << "looked for on major version 4 only";

  version(4, 0, 1381, "Service Pack 6a");
  EXPECT_EQ(sys.OsVersion(), "4.00");
  EXPECT_EQ(sys.ServicePack(), "6");
  version(4, 0, 1381, "Service Pack 3");
  EXPECT_EQ(sys.ServicePack(), "3");
  version(4, 0, 1381, "");
  EXPECT_EQ(sys.ServicePack(), "0");
  version(4, 0, 1381, "SP 6 then 4");
  EXPECT_EQ(sys.ServicePack(), "4") << "digits are tried in the order 3, 4, 5, 6";
  version(4, 10, 1998, " A ");
  EXPECT_EQ(sys.OsVersion(), "4.10");
  EXPECT_EQ(sys.ServicePack(), "0");
  version(5, 1, 2600, "");
  EXPECT_EQ(sys.OsVersion(), "5.01");
  version(6, 1, -5, "");
  EXPECT_EQ(sys.Build(), "-5") << "the whole field, nothing masked";
}

TEST_F(SysInfo, PlatformNames) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "Probably unable to run..."}, {1, "Win9x"}, {2, "WinNT"}, {3, ""}};
  for (auto [id, name] : cases) {
    os.versionRecord.platformId = id;
    EXPECT_EQ(sys.PlatForm(), name) << id;
  }
  os.versionRecord.platformId = VersionRecord::kPlatformOther;
  os.versionRecord.platformName = "Linux";
  EXPECT_EQ(sys.PlatForm(), "Linux");
}

TEST_F(SysInfo, FailedVersionQueryReadsAsZeroes) {
  os.versionRecord = VersionRecord{};
  os.versionRecord.platformId = 2;  // ignored when the call failed
  EXPECT_EQ(sys.PlatForm(), "Probably unable to run...");
  EXPECT_EQ(sys.OsVersion(), "0.00");
  EXPECT_EQ(sys.Build(), "0");
  EXPECT_EQ(sys.ServicePack(), "0");
}

TEST_F(SysInfo, ProcessorTable) {
  const std::pair<int32_t, const char*> cases[] = {
      {386, "Intel 386"},         {486, "Intel 486"},   {586, "Intel Pentium"}, {4000, "MIPS R4000"},
      {21064, "DEC Alpha 21064"}, {8664, "(unknown)"}, {0, "(unknown)"}};
  for (auto [type, name] : cases) {
    os.processor = type;
    EXPECT_EQ(sys.Cpu(), name) << type;
  }
}

TEST_F(SysInfo, MemoryInWholeKilobytesFrom64BitCounts) {
  os.memoryRecord = MemoryRecord{536346624, 1023, 2147483648ULL, 4294967295ULL};
  EXPECT_EQ(sys.TotalPhysicalMemory(), "523,776K");
  EXPECT_EQ(sys.AvailablePhysicalMemory(), "K");
  // Figures of 2 GB and more stay positive and whole.
  EXPECT_EQ(sys.TotalVirtualMemory(), "2,097,152K");
  EXPECT_EQ(sys.AvailableVirtualMemory(), "4,194,303K");
  os.memoryRecord.totalPhysical = 64ULL << 40;  // 64 TiB
  EXPECT_EQ(sys.TotalPhysicalMemory(), "68,719,476,736K");
}

TEST_F(SysInfo, EveryReadAsksAgain) {
  (void)sys.OsVersion();
  (void)sys.Build();
  EXPECT_EQ(os.versionCalls, 2);
}

}  // namespace
}  // namespace quenvar
