#include "platform/posix/secret_store_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "quenvar/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

using testing::errorNumber;
using testing::namesIn;
using testing::TempFolder;

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}


TEST(FileSecretStore, KeptForTheUserAloneAndRefusedOnceOthersCouldReadIt) {
  TempFolder dir;
  IniSettingsStore settings(dir.path());
  FileSecretStore secrets(settings);
  EXPECT_EQ(secrets.get("App", "Password"), std::nullopt);
  const std::string awkward("pa\0ss\nw\xC3\xB6rd", 11);
  secrets.save("App", "Password", awkward);
  const std::string path = secrets.filePath("App", "Password");
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(modeOf(path.substr(0, path.rfind('/'))), 0700u);
  EXPECT_EQ(FileSecretStore(settings).get("App", "Password"), awkward);
  EXPECT_FALSE(settings.get("App", "Password", "Password")) << "nothing in the settings";

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(errorNumber([&] { secrets.get("App", "Password"); }), 70);
  secrets.save("App", "Password", "new");
  EXPECT_EQ(modeOf(path), 0600u) << "saving again makes it private again";
  EXPECT_EQ(secrets.get("App", "Password"), "new");

  secrets.remove("App", "Password");
  secrets.remove("App", "Password");
  EXPECT_EQ(secrets.get("App", "Password"), std::nullopt);
  for (const char* name : {"", ".", "..", "a/b"}) {
    EXPECT_EQ(errorNumber([&] { secrets.save("App", name, "x"); }), 52) << name;
    EXPECT_EQ(errorNumber([&] { secrets.save(name, "Password", "x"); }), 52) << name;
  }
}

// The number `get` raised, 0 when it gave `expected`, 1 when it gave anything else, -1 when it
// never returned. In a child, so that a read waiting forever fails the row instead of the run.
int getInChild(FileSecretStore& secrets, const std::optional<std::string>& expected) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(5);
    std::optional<std::string> got;
    const int error = errorNumber([&] { got = secrets.get("App", "SMTPPassword"); });
    ::_exit(error != 0 ? error : got == expected ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another user who owns or may write the folder, or links and FIFOs planted in it, must neither
// hand the store someone else's content nor receive the secret.
TEST(FileSecretStore, UsesOnlyAFolderAndFileOfTheUserAlone) {
  enum class Plant { Nothing, ForeignFolder, OpenFolder, FolderLink, SecretLink, SecretFifo };
  const std::string largest(64 * 1024, 's');
  const struct {
    const char* what;
    Plant plant;
    std::string secret;  // what the user's own secret file holds
    int get, save, remove;
  } cases[] = {
      {"private file in a private folder", Plant::Nothing, std::string("pa\0ss", 5), 0, 0, 0},
      {"the largest secret read", Plant::Nothing, largest, 0, 0, 0},
      {"a file larger than any password", Plant::Nothing, largest + 's', 70, 0, 0},
      {"folder of another user", Plant::ForeignFolder, "own", 70, 70, 70},
      {"folder anyone may write", Plant::OpenFolder, "own", 70, 70, 70},
      {"folder as a link to a private folder", Plant::FolderLink, "own", 70, 70, 70},
      {"secret as a link to a private file", Plant::SecretLink, "own", 70, 0, 0},
      {"secret as a FIFO", Plant::SecretFifo, "own", 70, 0, 0},
  };
  bool skipped = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.plant == Plant::ForeignFolder && ::geteuid() != 0) {  // only root can give a folder away
      skipped = true;
      continue;
    }
    TempFolder dir;
    IniSettingsStore settings(dir.path());
    FileSecretStore secrets(settings);
    const std::string folder = dir / "App/secrets";
    const std::string victim = dir / "victim";
    ASSERT_EQ(::mkdir((dir / "App").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(victim.c_str(), 0700), 0);
    testing::writeAll(victim + "/SMTPPassword", "victim's private data");
    ASSERT_EQ(::chmod((victim + "/SMTPPassword").c_str(), 0600), 0);
    if (c.plant == Plant::FolderLink) {
      ASSERT_EQ(::symlink(victim.c_str(), folder.c_str()), 0);
    } else {
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
      const std::string file = folder + "/SMTPPassword";
      if (c.plant == Plant::SecretLink) {
        ASSERT_EQ(::symlink((victim + "/SMTPPassword").c_str(), file.c_str()), 0);
      } else if (c.plant == Plant::SecretFifo) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
      } else {
        testing::writeAll(file, c.secret);
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
      }
      if (c.plant == Plant::OpenFolder) {
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
      } else if (c.plant == Plant::ForeignFolder) {
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
      }
    }
    const auto before = namesIn(folder);

    EXPECT_EQ(getInChild(secrets, c.secret), c.get);
    EXPECT_EQ(errorNumber([&] { secrets.save("App", "SMTPPassword", "new"); }), c.save);
    if (c.save == 0) {
      EXPECT_EQ(getInChild(secrets, "new"), 0);
    } else {
      EXPECT_EQ(namesIn(folder), before) << "nothing written there";
    }
    EXPECT_EQ(errorNumber([&] { secrets.remove("App", "SMTPPassword"); }), c.remove);
    if (c.remove == 0) {
      EXPECT_EQ(getInChild(secrets, std::nullopt), 0);
    } else {
      EXPECT_EQ(namesIn(folder), before) << "nothing removed there";
    }
    EXPECT_EQ(testing::readAll(victim + "/SMTPPassword"), "victim's private data");
    EXPECT_EQ(namesIn(victim), std::vector<std::string>{"SMTPPassword"});
  }
  if (skipped) GTEST_SKIP() << "a folder of another user needs root";
}

}  // namespace
}  // namespace quenvar
