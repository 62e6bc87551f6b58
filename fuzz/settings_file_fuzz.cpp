// The Linux settings file: whatever a hand-edited settings.ini holds, reading never fails, a
// value saved reads back as itself, removing it leaves it unread, and neither disturbs
// another key. The file lives in a private folder (on tmpfs when there is one: every save
// syncs).

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "fuzz_input.h"
#include "platform/posix/settings_store_ini.h"

namespace {

// Never destroyed: the exit handler that removes it runs after static destructors would.
const std::string& root() {
  static const std::string* folder = [] {
    std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/quenvar-fuzz-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    std::atexit([] { std::filesystem::remove_all(root()); });
    return new std::string(pattern);
  }();
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quenvar;
  fuzz::Input in(data, size);
  const std::string section = in.text(), key = in.text(), value = in.text();
  const std::string otherSection = in.text(), otherKey = in.text();
  const std::string content(in.rest());

  IniSettingsStore store(root());
  const std::string app = "App";
  store.save(app, "Seed", "Seed", "x");  // makes the folder
  {
    std::ofstream file(store.filePath(app), std::ios::binary | std::ios::trunc);
    file << content;
  }
  const bool sameKey = equalsIgnoreCase(section, otherSection) && equalsIgnoreCase(key, otherKey);
  const std::optional<std::string> other = store.get(app, otherSection, otherKey);

  store.save(app, section, key, value);
  if (store.get(app, section, key) != value) __builtin_trap();
  if (!sameKey && store.get(app, otherSection, otherKey) != other) __builtin_trap();

  store.remove(app, section, key);
  if (store.get(app, section, key).has_value()) __builtin_trap();
  if (!sameKey && store.get(app, otherSection, otherKey) != other) __builtin_trap();
  return 0;
}
