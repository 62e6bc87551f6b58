#pragma once
// Settings where the classic settings API of the automation runtime keeps them:
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>, values as REG_SZ.

#include "platform/settings_store.h"

namespace quenvar {

class RegistrySettingsStore : public SettingsStore {
 public:
  std::optional<std::string> get(const std::string& app, const std::string& section,
                                 const std::string& key) override;
  void save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override;
  void remove(const std::string& app, const std::string& section, const std::string& key) override;
};

}  // namespace quenvar
