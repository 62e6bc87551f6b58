#pragma once

#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace quenvar {

class ModuleInfo {
 public:
  virtual ~ModuleInfo() = default;
  // The folder holding the component's own library file, without a trailing separator.
  virtual std::string folder() = 0;
  // The library file's name without extension.
  virtual std::string name() = 0;
  // Runs `work` on a thread of its own that nothing waits for: ending the process or unloading
  // the library never waits on it, and the library's code stays loaded while it runs.
  virtual void runDetached(std::function<void()> work) { std::thread(std::move(work)).detach(); }
};

}  // namespace quenvar
