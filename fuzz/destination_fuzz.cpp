// Destination normalisation over arbitrary texts, on an in-memory file system that holds
// whatever folders the input names. One trailing separator goes (the text trimmed of blanks
// first), anything else is kept byte for byte; the folder exists afterwards or the write
// failed, unless the name is empty; and the error log then lands in it or in the default folder.

#include <cstdint>
#include <string>

#include "quenvar/automation_error.h"
#include "fakes/fake_platform.h"
#include "fuzz_input.h"
#include "quenvar/err_handler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quenvar;
  fuzz::Input in(data, size);
  fake::Services services;
  for (int n = in.byte() % 4; n > 0; --n) services.files.folders.insert(in.text());
  const std::string value(in.rest());  // NULs included

  clsErrHandler handler(services.platform);
  bool created = true;
  try {
    handler.Destination(value);
  } catch (const AutomationError&) {
    created = false;
  }
  const std::string& stored = handler.Destination();
  // A NUL would cut the path short at the system: such a name may be refused before it is stored.
  if (!created && value.find('\0') != std::string::npos) return 0;
  const size_t end = value.find_last_not_of(' ');
  const bool separatorLast = end != std::string::npos && (value[end] == '/' || value[end] == '\\');
  if (!separatorLast) {
    if (stored != value) __builtin_trap();
  } else {
    const size_t begin = value.find_first_not_of(' ');
    if (stored != value.substr(begin, end - begin)) __builtin_trap();
  }
  if (!created) return 0;
  // A name of nothing is kept as it is: the default folder is filled in when an error is handled.
  if (stored.empty()) services.files.folders.insert(services.module.folderPath);
  else if (!services.files.exists(stored)) __builtin_trap();
  if (handler.HandleError("fuzzed", 5) != 0) __builtin_trap();
  const std::string folder = handler.Destination();
  if (stored.empty() && folder != services.module.folderPath) __builtin_trap();
  if (!services.files.fileExists(folder + "/Error.log")) __builtin_trap();
  return 0;
}
