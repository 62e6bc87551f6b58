#include "platform/win32/os_facts_win32.h"

#include <gtest/gtest.h>

#include "platform/win32/locale_text_win32.h"
#include "sysinfo/os_info.h"
#include "quenvar/sys_obj.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

TEST(Win32OsFacts, VersionAgreesWithTheSystem) {
  Win32OsFacts os;
  const VersionRecord v = os.version();
  ASSERT_TRUE(v.ok);
  std::cout << "Version " << v.major << "." << v.minor << " build " << v.build << ", platform " << v.platformId
            << ", \"" << v.servicePack << "\"\n";
  // The packed form of the same facts, from the older call.
  const DWORD packed = ::GetVersion();
  EXPECT_EQ(v.major, static_cast<int32_t>(LOBYTE(LOWORD(packed))));
  EXPECT_EQ(v.minor, static_cast<int32_t>(HIBYTE(LOWORD(packed))));
  EXPECT_EQ(v.build, static_cast<int32_t>(HIWORD(packed)));
  EXPECT_EQ(v.platformId, VersionRecord::kPlatformNT);
  EXPECT_TRUE(v.platformName.empty());
  EXPECT_EQ(os.eventLogPlatform(), "WinNT");

  const Win32LocaleText locale;
  const SysObj sys(os, locale);
  EXPECT_EQ(sys.PlatForm(), os.eventLogPlatform());
}

TEST(Win32OsFacts, WineReportsWindows7ServicePack1) {
  if (!testing::runningUnderWine()) GTEST_SKIP() << "not running under Wine";
  const VersionRecord v = Win32OsFacts().version();
  EXPECT_EQ(v.major, 6);
  EXPECT_EQ(v.minor, 1);
  EXPECT_EQ(v.build, 7601);
  EXPECT_EQ(v.platformId, 2);
  EXPECT_EQ(v.servicePack, "Service Pack 1");
}

TEST(Win32OsFacts, ProcessorOfThisProcess) {
  Win32OsFacts os;
  EXPECT_EQ(os.processorType(), sizeof(void*) == 4 ? PROCESSOR_INTEL_PENTIUM : PROCESSOR_AMD_X8664);
  std::cout << "Processor type " << os.processorType() << "\n";
}

TEST(Win32OsFacts, MemoryFigures) {
  const MemoryRecord m = Win32OsFacts().memory();
  std::cout << "Physical " << m.availablePhysical << " of " << m.totalPhysical << ", virtual " << m.availableVirtual
            << " of " << m.totalVirtual << "\n";
  EXPECT_GT(m.totalPhysical, 0u);
  EXPECT_GT(m.availablePhysical, 0u);
  EXPECT_LE(m.availablePhysical, m.totalPhysical);
  EXPECT_LT(m.availableVirtual, m.totalVirtual);  // this process itself takes some
  if (sizeof(void*) == 4) {
    EXPECT_GE(m.totalVirtual, uint64_t{1} << 30);
    EXPECT_LE(m.totalVirtual, uint64_t{4} << 30);
  } else {
    EXPECT_GT(m.totalVirtual, uint64_t{4} << 30);
  }
}

// Wine takes physical memory from the kernel, whose own figure is reachable through drive Z:.
TEST(Win32OsFacts, WinePhysicalMemoryIsTheKernels) {
  if (!testing::runningUnderWine()) GTEST_SKIP() << "not running under Wine";
  const std::string meminfo = testing::readBytes("Z:\\proc\\meminfo");
  const size_t at = meminfo.find("MemTotal:");
  if (at == std::string::npos) GTEST_SKIP() << "no /proc/meminfo through drive Z:";
  const uint64_t kernelBytes = std::stoull(meminfo.substr(at + 9)) * 1024;
  const uint64_t reported = Win32OsFacts().memory().totalPhysical;
  EXPECT_LE(reported, kernelBytes);
  EXPECT_GT(reported + 64 * 1024, kernelBytes);
}

// This process runs; one that ended does not, whether or not a handle still holds it, nor does
// a process of this pid made at another moment (the pid given again).
TEST(Win32OsFacts, RunningKnowsAProcessByItsPidAndStart) {
  Win32OsFacts os;
  const ProcessMark self = os.thisProcess();
  EXPECT_EQ(self.pid, static_cast<int64_t>(::GetCurrentProcessId()));
  EXPECT_GT(self.started, 0u);
  std::wstring command = L"\"" + testing::ownProgram() + L"\" --gtest_filter=-*";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                               &startup, &child));
  FILETIME created{}, exited{}, kernel{}, user{};
  ASSERT_TRUE(::GetProcessTimes(child.hProcess, &created, &exited, &kernel, &user));
  const ProcessMark ended{child.dwProcessId, uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime};
  EXPECT_TRUE(os.running(ended)) << "the child, held suspended";
  ::ResumeThread(child.hThread);
  ASSERT_EQ(::WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
  const struct {
    const char* name;
    ProcessMark mark;
    bool running;
  } cases[] = {
      {"this process", self, true},
      {"its pid, another start", {self.pid, self.started + 1}, false},
      {"one that ended, still held", ended, false},
      {"not to be told", {0, 0}, true},
  };
  for (const auto& c : cases) EXPECT_EQ(os.running(c.mark), c.running) << c.name;
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  EXPECT_FALSE(os.running(ended)) << "one that ended, let go";
}

}  // namespace
}  // namespace quenvar
