#pragma once

#include <string_view>

#include "platform/module_info.h"

namespace quenvar {

// The file this code was loaded from: Quenvar.dll, or the program it is linked into.
class Win32ModuleInfo : public ModuleInfo {
 public:
  std::string folder() override;
  std::string name() override;
  void runDetached(std::function<void()> work) override;

  // Splits a full Windows path: "C:\\x\\Quenvar.dll" gives "C:\\x" and "Quenvar".
  static std::string folderOf(std::string_view path);
  static std::string nameOf(std::string_view path);
};

}  // namespace quenvar
