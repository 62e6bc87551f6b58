#pragma once
// Settings as one INI file per application under the user's configuration folder.

#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace quenvar {

class IniSettingsStore : public SettingsStore {
 public:
  // Under $XDG_CONFIG_HOME, else $HOME/.config.
  IniSettingsStore() = default;
  // Under `root` instead, whatever the environment says.
  explicit IniSettingsStore(std::string root) : root_(std::move(root)) {}

  std::optional<std::string> get(const std::string& app, const std::string& section,
                                 const std::string& key) override;
  void save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override;
  void remove(const std::string& app, const std::string& section, const std::string& key) override;

  // Where the application's settings live.
  std::string filePath(const std::string& app) const;
  std::string appFolder(const std::string& app) const;

 private:
  void change(const std::string& app, const std::string& section, const std::string& key,
              const std::optional<std::string>& value);

  std::optional<std::string> root_;
};

}  // namespace quenvar
