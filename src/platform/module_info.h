#pragma once

#include <string>

namespace quenvar {

class ModuleInfo {
 public:
  virtual ~ModuleInfo() = default;
  // The folder holding the component's own library file, without a trailing separator.
  virtual std::string folder() = 0;
  // The library file's name without extension.
  virtual std::string name() = 0;
};

}  // namespace quenvar
