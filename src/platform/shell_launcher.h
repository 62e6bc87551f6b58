#pragma once

#include <cstdint>
#include <string>

namespace quenvar {

class ShellLauncher {
 public:
  // Results above this one mean the document was opened.
  static constexpr int64_t kLastFailure = 32;
  virtual ~ShellLauncher() = default;
  // Opens `file` (a document or a link) with the program the user chose for it, in a normal
  // window, without waiting; returns the launcher's own result.
  virtual int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) = 0;
};

}  // namespace quenvar
