#pragma once
// Secrets as files of their own beside the application's settings, readable by the user alone
// (mode 0600 in a folder of mode 0700), each replaced whole. A folder or file that someone else
// owns, could read or could swap, or a link in their place, is refused rather than used.

#include "platform/posix/settings_store_ini.h"
#include "platform/secret_store.h"

namespace quenvar {

class FileSecretStore : public SecretStore {
 public:
  // In the folder where `settings` keeps each application's settings.
  explicit FileSecretStore(const IniSettingsStore& settings) : settings_(settings) {}

  std::optional<std::string> get(const std::string& app, const std::string& name) override;
  void save(const std::string& app, const std::string& name, const std::string& secret) override;
  void remove(const std::string& app, const std::string& name) override;

  std::string filePath(const std::string& app, const std::string& name) const;

 private:
  // Where `name` of `app` lives; refuses names that would lead elsewhere.
  std::string folderPath(const std::string& app, const std::string& name) const;

  const IniSettingsStore& settings_;
};

}  // namespace quenvar
