#pragma once

#include <string_view>

#include "platform/module_info.h"

namespace quenvar {

// The file this code was loaded from: libquenvar.so, or the program it is linked into.
class DladdrModuleInfo : public ModuleInfo {
 public:
  std::string folder() override;
  std::string name() override;
  void runDetached(std::function<void()> work) override;

  // "libquenvar.so.1" gives "quenvar", "demo" gives "demo".
  static std::string moduleName(std::string_view fileName);
};

namespace posix {
// For a thread of this library's that may outlive the call that started it: the host unloading
// the library meanwhile would pull that code from under it.
void keepLibraryLoaded();
}  // namespace posix

}  // namespace quenvar
