#include "platform/posix/secret_store_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "quenvar/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

using testing::errorNumber;
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

}  // namespace
}  // namespace quenvar
