#include "platform/win32/outbox_store_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "win32_test_support.h"

namespace quenvar {
namespace {

using testing::errorNumber;
using testing::TempFolder;

// This program started again as a holder: it claims report "r" of project "p" under the root
// in the first variable, sets the event named in the second and waits to be killed mid-send.
constexpr const wchar_t* kHoldRoot = L"QUENVAR_OUTBOX_HOLD_ROOT";
constexpr const wchar_t* kHoldEvent = L"QUENVAR_OUTBOX_HOLD_EVENT";

// Before main, so the holder runs no test.
[[maybe_unused]] const bool kHolder = [] {
  const std::string root = testing::environment(kHoldRoot);
  if (root.empty()) return false;
  const auto held = Win32OutboxStore(root).claim("p", "r");
  if (!held) ::ExitProcess(3);
  const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, win32::widen(testing::environment(kHoldEvent)).c_str());
  if (ready == nullptr || !::SetEvent(ready)) ::ExitProcess(4);
  ::Sleep(INFINITE);
  return true;
}();


std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW(win32::widen(folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = win32::narrow(entry.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> reports(OutboxStore& store) {
  std::vector<std::string> out;
  for (const auto& entry : store.list("p")) out.push_back(entry.name + ":" + std::to_string(entry.bytes));
  return out;
}

// Reports in the order of their names; what else lies in the folder is not one; a report goes
// only when it was sent or rejected, and a state value stays beside them.
TEST(Win32OutboxStore, ReportsComeAndGoOnlyAsTold) {
  TempFolder dir;
  Win32OutboxStore store(dir.path());
  EXPECT_TRUE(store.list("p").empty()) << "no folder yet";
  EXPECT_FALSE(store.state("p", "limit"));
  store.put("p", "2-b", "second");
  store.put("p", "1-a", "first!");
  store.put("p", "\xC3\xA9t\xC3\xA9", "a name outside ASCII");
  store.setState("p", "limit", "3600", true);
  store.setState("p", "limit", "60", false);  // rewritten in place: nothing of the longer stays
  store.sync("p");
  const std::string folder = store.folderOf("p");
  EXPECT_EQ(folder, dir / "p");
  EXPECT_EQ(Win32OutboxStore().folderOf("p"), testing::environment(L"LOCALAPPDATA") + "\\Quenvar\\Outbox\\p");
  EXPECT_TRUE(::GetFileAttributesW(win32::widen(folder).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  testing::writeBytes(folder + "\\3-c.report.Ab12Cd", "a write cut short");
  ASSERT_TRUE(::CreateDirectoryW(win32::widen(folder + "\\4-d.report").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(win32::widen(folder + "\\held.state").c_str(), nullptr));
  // Wine 8 answers success and makes no link: the refusal can be seen on Windows only.
  const std::string link = folder + "\\5-e.report";
  testing::writeBytes(dir / "elsewhere", "not a report");
  ::CreateSymbolicLinkW(win32::widen(link).c_str(), win32::widen(dir / "elsewhere").c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD linkAttributes = ::GetFileAttributesW(win32::widen(link).c_str());
  const bool linked = linkAttributes != INVALID_FILE_ATTRIBUTES && (linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(reports(store), (std::vector<std::string>{"1-a:6", "2-b:6", "\xC3\xA9t\xC3\xA9:20"}));
  EXPECT_EQ(store.state("p", "limit"), "60");
  EXPECT_EQ(store.sweep("p", 600), 17u) << "a write under way counts, and stays";
  const std::vector<std::string> before = namesIn(folder);

  auto first = store.claim("p", "1-a");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->read(100), "first!");
  EXPECT_EQ(first->read(3), "fir");
  first->remove();
  first.reset();
  EXPECT_FALSE(store.claim("p", "1-a")) << "gone";
  store.claim("p", "2-b")->reject("HTTP 413: too large");
  EXPECT_EQ(reports(store), (std::vector<std::string>{"\xC3\xA9t\xC3\xA9:20"}));
  EXPECT_EQ(namesIn(folder + "\\rejected"), (std::vector<std::string>{"2-b.reason", "2-b.report"}));
  EXPECT_EQ(testing::readBytes(folder + "\\rejected\\2-b.reason"), "HTTP 413: too large");
  EXPECT_EQ(testing::readBytes(folder + "\\rejected\\2-b.report"), "second");
  ASSERT_EQ(store.listRejected("p").size(), 1u);
  store.removeRejected("p", "2-b");
  EXPECT_TRUE(namesIn(folder + "\\rejected").empty());

  // What stands where a report or state should be and is no file of one.
  EXPECT_EQ(errorNumber([&] { store.claim("p", "4-d"); }), err::kPermissionDenied);
  EXPECT_EQ(errorNumber([&] { store.state("p", "held"); }), err::kPermissionDenied);
  if (linked) {
    EXPECT_EQ(errorNumber([&] { store.claim("p", "5-e"); }), err::kPermissionDenied) << "a link is never opened";
  }
  // A write that fails (here the move onto a folder) leaves nothing behind.
  EXPECT_NE(errorNumber([&] { store.put("p", "4-d", "lost"); }), 0);
  EXPECT_NE(errorNumber([&] { store.setState("p", "held", "lost", true); }), 0);
  std::vector<std::string> after = before;
  after.erase(std::remove(after.begin(), after.end(), "1-a.report"), after.end());
  after.erase(std::remove(after.begin(), after.end(), "2-b.report"), after.end());
  after.push_back("rejected");
  std::sort(after.begin(), after.end());
  EXPECT_EQ(namesIn(folder), after);

  // States listed by prefix, the folder and temporaries aside; a removal tells whether it was
  // this call that removed the state.
  store.setState("p", "session-1", "a", false);
  testing::writeBytes(folder + "\\session-2.state.Ab12Cd", "a write cut short");
  EXPECT_EQ(store.stateKeys("p", "session-"), std::vector<std::string>{"session-1"});
  EXPECT_EQ(store.stateKeys("p", "held"), std::vector<std::string>{});
  EXPECT_TRUE(store.removeState("p", "session-1"));
  EXPECT_FALSE(store.removeState("p", "session-1")) << "already gone";
  EXPECT_EQ(errorNumber([&] { store.removeState("p", "held"); }), err::kPermissionDenied);
  ::DeleteFileW(win32::widen(folder + "\\session-2.state.Ab12Cd").c_str());

  for (const std::string bad : {"", ".hidden", "../x", "a/b", "a\\b", "c:x", "a*", "a?", "a\"b", "a<b", "a>b", "a|b",
                                "a\tb", "end.", "end ", "CON", "nul", "Com1", "lpt9.txt", "aux .x"}) {
    SCOPED_TRACE("\"" + bad + "\"");
    EXPECT_EQ(errorNumber([&] { store.put("p", bad, "y"); }), err::kBadFileName);
    EXPECT_EQ(errorNumber([&] { store.claim("p", bad); }), err::kBadFileName);
    EXPECT_EQ(errorNumber([&] { store.state("p", bad); }), err::kBadFileName);
    EXPECT_EQ(errorNumber([&] { store.setState("p", bad, "y", true); }), err::kBadFileName);
    EXPECT_EQ(errorNumber([&] { store.list(bad); }), err::kBadFileName);
    EXPECT_EQ(errorNumber([&] { store.removeState("p", bad); }), err::kBadFileName);
  }
  EXPECT_EQ(errorNumber([&] { store.put("p", std::string("a\0b", 3), "y"); }), err::kBadFileName);
  EXPECT_EQ(namesIn(folder), after);
}

// One holder at a time, in this process or another; one that dies lets its report go to be
// sent again.
TEST(Win32OutboxStore, OneHolderAtATimeAndNoneAfterItDies) {
  TempFolder dir;
  Win32OutboxStore store(dir.path());
  store.put("p", "r", "report");
  {
    auto held = store.claim("p", "r");
    ASSERT_TRUE(held);
    bool other = true;
    std::thread([&] { other = Win32OutboxStore(dir.path()).claim("p", "r") != nullptr; }).join();
    EXPECT_FALSE(other) << "another thread's claim";
  }

  const std::wstring eventName = L"quenvar-outbox-held-" + std::to_wstring(::GetCurrentProcessId());
  const HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  ASSERT_NE(ready, nullptr);
  ::SetEnvironmentVariableW(kHoldRoot, win32::widen(dir.path()).c_str());
  ::SetEnvironmentVariableW(kHoldEvent, eventName.c_str());
  // No test of its own even if the holder's role did not take over.
  std::wstring command = L"\"" + testing::ownProgram() + L"\" --gtest_filter=-*";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const BOOL started =
      ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
  ::SetEnvironmentVariableW(kHoldRoot, nullptr);
  ::SetEnvironmentVariableW(kHoldEvent, nullptr);
  ASSERT_TRUE(started);
  const HANDLE waits[] = {ready, child.hProcess};
  const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, 60000);
  DWORD code = 0;
  ::GetExitCodeProcess(child.hProcess, &code);
  EXPECT_EQ(woke, WAIT_OBJECT_0) << "the child's exit code: " << code;
  EXPECT_FALSE(store.claim("p", "r")) << "held by another process";
  ::TerminateProcess(child.hProcess, 9);  // killed mid-send
  EXPECT_EQ(::WaitForSingleObject(child.hProcess, 20000), WAIT_OBJECT_0);
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  ::CloseHandle(ready);
  auto again = store.claim("p", "r");
  ASSERT_TRUE(again) << "the dead holder let it go";
  EXPECT_EQ(again->read(100), "report");

  // Sent while a reader (a virus scanner) still has it open: the name lasts until the reader
  // lets go, and meanwhile it is no one's to claim.
  const HANDLE reader = ::CreateFileW(win32::widen(dir / "p\\r.report").c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE) << ::GetLastError();
  again->remove();
  again.reset();
  EXPECT_EQ(errorNumber([&] { EXPECT_FALSE(store.claim("p", "r")); }), 0);
  ::CloseHandle(reader);
  EXPECT_FALSE(store.claim("p", "r"));
  EXPECT_EQ(namesIn(store.folderOf("p")), std::vector<std::string>{}) << "deleted once the reader let go";
}

}  // namespace
}  // namespace quenvar
