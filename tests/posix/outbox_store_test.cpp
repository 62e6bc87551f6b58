#include "platform/posix/outbox_store_posix.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "temp_folder.h"

namespace quenvar {
namespace {

using testing::namesIn;
using testing::TempFolder;

std::vector<std::string> names(OutboxStore& store) {
  std::vector<std::string> out;
  for (const auto& entry : store.list("p")) out.push_back(entry.name + ":" + std::to_string(entry.bytes));
  return out;
}

// Reports in the order of their names; what else lies in the folder is not one; a report goes
// only when it was sent or rejected, and a state value stays beside them.
TEST(PosixOutboxStore, ReportsComeAndGoOnlyAsTold) {
  TempFolder dir;
  PosixOutboxStore store(dir.path());
  EXPECT_TRUE(store.list("p").empty()) << "no folder yet";
  EXPECT_FALSE(store.state("p", "limit"));
  store.put("p", "2-b", "second");
  store.put("p", "1-a", "first!");
  store.setState("p", "limit", "60", true);
  store.setState("p", "size", "2 12 1", false);
  const std::string folder = store.folderOf("p");
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  testing::writeAll(folder + "/3-c.report.Ab12Cd", "a write cut short");
  ::symlink((dir / "elsewhere").c_str(), (folder + "/4-d.report").c_str());
  ::mkfifo((folder + "/5-e.report").c_str(), 0600);
  EXPECT_EQ(names(store), (std::vector<std::string>{"1-a:6", "2-b:6"}));
  EXPECT_EQ(store.state("p", "limit"), "60");
  EXPECT_EQ(store.state("p", "size"), "2 12 1");
  struct stat hint {};
  ASSERT_EQ(::stat((folder + "/size.state").c_str(), &hint), 0);
  store.setState("p", "size", "1", false);
  EXPECT_EQ(store.state("p", "size"), "1") << "a shorter hint leaves nothing of the longer";
  struct stat rewritten {};
  ASSERT_EQ(::stat((folder + "/size.state").c_str(), &rewritten), 0);
  EXPECT_EQ(rewritten.st_ino, hint.st_ino) << "a hint is rewritten where it stands";
  EXPECT_EQ(store.sweep("p", 600), 17u) << "a write under way counts, and stays";
  const timeval longAgo[2] = {{::time(nullptr) - 700, 0}, {::time(nullptr) - 700, 0}};
  ASSERT_EQ(::utimes((folder + "/3-c.report.Ab12Cd").c_str(), longAgo), 0);
  EXPECT_EQ(store.sweep("p", 600), 0u) << "one a killed writer left goes";
  EXPECT_EQ(::access((folder + "/3-c.report.Ab12Cd").c_str(), F_OK), -1);
  store.sync("p");

  auto first = store.claim("p", "1-a");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->read(100), "first!");
  EXPECT_EQ(first->read(3), "fir");
  first->remove();
  first.reset();
  EXPECT_FALSE(store.claim("p", "1-a")) << "gone";
  store.claim("p", "2-b")->reject("HTTP 413: too large");
  EXPECT_TRUE(store.list("p").empty());
  EXPECT_EQ(namesIn(folder + "/rejected"), (std::vector<std::string>{"2-b.reason", "2-b.report"}));
  EXPECT_EQ(testing::readAll(folder + "/rejected/2-b.reason"), "HTTP 413: too large");
  ASSERT_EQ(store.listRejected("p").size(), 1u);
  EXPECT_EQ(store.listRejected("p")[0].name, "2-b");
  store.removeRejected("p", "2-b");
  EXPECT_TRUE(namesIn(folder + "/rejected").empty());
  store.sync("p");  // what it had to keep is gone: nothing to fail on
  EXPECT_EQ(testing::errorNumber([&] { store.claim("p", "4-d"); }), 70) << "a link is never opened";
  EXPECT_EQ(testing::errorNumber([&] { store.put("p", "../x", "y"); }), 52);
  EXPECT_EQ(testing::errorNumber([&] { store.list("../p"); }), 52);
}

// States listed by prefix, reports and temporaries aside; a removal tells whether it was this
// one that removed the state.
TEST(PosixOutboxStore, StatesListedByPrefixAndRemovedOnce) {
  TempFolder dir;
  PosixOutboxStore store(dir.path());
  EXPECT_TRUE(store.stateKeys("p", "session-").empty()) << "no folder yet";
  EXPECT_FALSE(store.removeState("p", "session-1"));
  store.setState("p", "session-1", "a", false);
  store.setState("p", "session-2", "b", true);
  store.setState("p", "size", "c", false);
  store.put("p", "session-3", "a report, not a state");
  testing::writeAll(store.folderOf("p") + "/session-4.state.Ab12Cd", "a write cut short");
  std::vector<std::string> keys = store.stateKeys("p", "session-");
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"session-1", "session-2"}));
  EXPECT_TRUE(store.removeState("p", "session-1"));
  EXPECT_FALSE(store.removeState("p", "session-1")) << "already gone";
  EXPECT_EQ(store.state("p", "session-1"), std::nullopt);
  EXPECT_EQ(store.stateKeys("p", "session-"), (std::vector<std::string>{"session-2"}));
  EXPECT_EQ(store.state("p", "size"), "c");
}

// One holder at a time, in this process or another; one that dies lets its report go to be
// sent again.
TEST(PosixOutboxStore, OneHolderAtATimeAndNoneAfterItDies) {
  TempFolder dir;
  PosixOutboxStore store(dir.path());
  store.put("p", "r", "report");
  {
    auto held = store.claim("p", "r");
    ASSERT_TRUE(held);
    EXPECT_FALSE(store.claim("p", "r")) << "another thread's claim";
  }
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    auto held = PosixOutboxStore(dir.path()).claim("p", "r");
    const char c = held ? '1' : '0';
    (void)!::write(ready[1], &c, 1);
    ::pause();  // killed mid-send
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  EXPECT_FALSE(store.claim("p", "r")) << "held by another process";
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  auto again = store.claim("p", "r");
  ASSERT_TRUE(again) << "the dead holder let it go";
  EXPECT_EQ(again->read(100), "report");
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace quenvar
