#include "platform/posix/module_info_dladdr.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quenvar {
namespace {

TEST(DladdrModuleInfo, NamesTheLibraryThisCodeWasLoadedFrom) {
  DladdrModuleInfo module;
  EXPECT_EQ(module.folder(), std::filesystem::canonical(QUENVAR_LIBRARY_DIR).string());
  EXPECT_EQ(module.name(), "quenvar");
  EXPECT_TRUE(std::filesystem::exists(module.folder() + "/libquenvar.so"));
}

TEST(DladdrModuleInfo, NameDropsPrefixVersionAndExtension) {
  EXPECT_EQ(DladdrModuleInfo::moduleName("libquenvar.so.1"), "quenvar");
  EXPECT_EQ(DladdrModuleInfo::moduleName("libquenvar.so.1.9.0"), "quenvar");
  EXPECT_EQ(DladdrModuleInfo::moduleName("libquenvar.so"), "quenvar");
  EXPECT_EQ(DladdrModuleInfo::moduleName("libfoo-1.2.so"), "foo-1.2");
  EXPECT_EQ(DladdrModuleInfo::moduleName("libsolver.so"), "solver");
  EXPECT_EQ(DladdrModuleInfo::moduleName("demo"), "demo");
  EXPECT_EQ(DladdrModuleInfo::moduleName("demo.bin"), "demo");
  EXPECT_EQ(DladdrModuleInfo::moduleName("lib.so"), "lib");
}

}  // namespace
}  // namespace quenvar
