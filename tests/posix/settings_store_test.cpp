#include "platform/posix/settings_store_ini.h"
#include "platform/posix/ini_format.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>

#include "quenvar/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

using testing::readAll;
using testing::TempFolder;

TEST(IniSettingsStore, AwkwardValuesAndNamesRoundTrip) {
  TempFolder dir;
  IniSettingsStore store(dir.path());
  const std::vector<std::string> values = {"",          "  blanks around  ", "a=b",           "[not a section]",
                                           "cr\rlf\n",  "back\\slash \\n",    std::string("nul\0in", 6),
                                           "; comment", "\xFF\xFE bytes"};
  for (size_t i = 0; i < values.size(); ++i) store.save("App", "Values", "k" + std::to_string(i), values[i]);
  store.save("App", "odd]section\n", "=key[", "x");
  store.save("App", "Values", "#hash", "y");

  IniSettingsStore fresh(dir.path());
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(fresh.get("App", "Values", "k" + std::to_string(i)), values[i]) << i;
  EXPECT_EQ(fresh.get("App", "odd]section\n", "=key["), "x");
  EXPECT_EQ(fresh.get("App", "Values", "#hash"), "y");
  EXPECT_EQ(fresh.get("App", "Values", "missing"), std::nullopt);
  EXPECT_EQ(fresh.get("Other", "Values", "k1"), std::nullopt);
}

TEST(IniSettingsStore, NamesIgnoreLetterCaseAndRemoveIsQuiet) {
  TempFolder dir;
  IniSettingsStore store(dir.path());
  store.save("App", "Window", "Left", "10");
  store.save("App", "window", "LEFT", "20");
  store.save("App", "Window", "Top", "5");
  EXPECT_EQ(store.get("App", "WINDOW", "left"), "20");
  const std::string file = readAll(store.filePath("App"));
  EXPECT_EQ(file, "[Window]\nLeft=20\nTop=5\n");

  store.remove("App", "window", "left");
  EXPECT_EQ(store.get("App", "Window", "Left"), std::nullopt);
  EXPECT_EQ(store.get("App", "Window", "Top"), "5");
  store.remove("App", "Window", "Left");  // already gone
  store.remove("Never", "S", "k");        // nothing there at all, and nothing created
  EXPECT_FALSE(std::filesystem::exists(dir / "Never"));
}

TEST(IniSettingsStore, LivesUnderTheXdgConfigFolder) {
  TempFolder dir;
  {
    testing::ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "xdg").c_str());
    IniSettingsStore store;
    store.save("App", "S", "k", "v");
    EXPECT_EQ(readAll(dir / "xdg/App/settings.ini"), "[S]\nk=v\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "xdg/App").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // The temporary file was renamed into place; only the lock stays beside it.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "xdg/App"))
      names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"settings.ini", "settings.ini.lock"}));
  }
  testing::ScopedEnv xdg("XDG_CONFIG_HOME", "");
  testing::ScopedEnv home("HOME", dir.path().c_str());
  EXPECT_EQ(IniSettingsStore().filePath("App"), dir / ".config/App/settings.ini");
}

TEST(IniSettingsStore, FailuresRaiseAutomationErrors) {
  TempFolder dir;
  testing::writeAll(dir / "file", "x");
  try {
    IniSettingsStore(dir / "file").save("App", "S", "k", "v");
    ADD_FAILURE() << "a file stands where a folder must go";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kPathNotFound);
  }
  for (const char* app : {"", "..", "a/b"}) {
    try {
      IniSettingsStore(dir.path()).save(app, "S", "k", "v");
      ADD_FAILURE() << app;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), err::kBadFileName);
    }
  }
}

TEST(IniSettingsStore, ConcurrentWritersLoseNothing) {
  TempFolder dir;
  constexpr int kWriters = 4, kKeys = 50;
  auto key = [](int w, int k) { return "w" + std::to_string(w) + "k" + std::to_string(k); };
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        IniSettingsStore store(dir.path());
        for (int k = 0; k < kKeys; ++k) store.save("App", k % 2 ? "Odd" : "Even", key(w, k), std::to_string(k));
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  IniSettingsStore store(dir.path());
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k) EXPECT_EQ(store.get("App", k % 2 ? "Odd" : "Even", key(w, k)), std::to_string(k));
}

TEST(IniSettingsStore, HandEditedContentIsReadAndKept) {
  TempFolder dir;
  IniSettingsStore store(dir.path());
  std::filesystem::create_directories(dir / "App");
  testing::writeAll(store.filePath("App"),
                    "; by hand\r\n[S]\r\nk=crlf\r\nno entry\r\n[broken\r\nk=lost\r\n[s]\r\ndup=1\r\ndup=2\r\n");
  EXPECT_EQ(store.get("App", "S", "k"), "crlf");
  EXPECT_EQ(store.get("App", "S", "dup"), "2");
  store.save("App", "S", "new", "v");
  store.remove("App", "S", "dup");
  EXPECT_EQ(readAll(store.filePath("App")),
            "; by hand\r\n[S]\r\nk=crlf\r\nno entry\r\n[broken\r\nk=lost\r\n[s]\r\nnew=v\n");
}

TEST(IniSettingsStore, AnyContentParsesAndStaysWritable) {
  std::mt19937 random(20240607);
  const std::string alphabet("[]=\\\r\n\0 ;#aK", 12);
  for (int round = 0; round < 3000; ++round) {
    std::string content(random() % 200, ' ');
    for (char& ch : content) ch = random() % 4 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    const auto written = ini::update(content, "a", "K", "v\n=");
    ASSERT_TRUE(written);
    ASSERT_EQ(ini::find(*written, "A", "k"), "v\n=") << ::testing::PrintToString(content);
    const auto removed = ini::update(*written, "a", "K", std::nullopt);
    ASSERT_TRUE(removed);
    ASSERT_EQ(ini::find(*removed, "a", "K"), std::nullopt) << ::testing::PrintToString(content);
  }
  TempFolder dir;
  IniSettingsStore store(dir.path());
  std::filesystem::create_directories(dir / "App");
  testing::writeAll(store.filePath("App"), "[S]\nk=" + std::string(20 << 20, '\\') + "[" + std::string(1 << 20, '\0'));
  EXPECT_NO_THROW((void)store.get("App", "S", "k"));
  store.save("App", "S", "other", "ok");
  EXPECT_EQ(store.get("App", "S", "other"), "ok");
}

}  // namespace
}  // namespace quenvar
