#pragma once
// The per-user settings store, addressed by application, section and key; values are text.

#include <optional>
#include <string>

namespace quenvar {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> get(const std::string& app, const std::string& section,
                                         const std::string& key) = 0;
  virtual void save(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value) = 0;
  virtual void remove(const std::string& app, const std::string& section, const std::string& key) = 0;
};

}  // namespace quenvar
