#pragma once
// Secrets protected by the system for the current user (data protection, bound to the user's
// logon), kept as binary values under HKEY_CURRENT_USER\Software\Quenvar\Secrets\<application>.

#include "platform/secret_store.h"

namespace quenvar {

class DpapiSecretStore : public SecretStore {
 public:
  std::optional<std::string> get(const std::string& app, const std::string& name) override;
  void save(const std::string& app, const std::string& name, const std::string& secret) override;
  void remove(const std::string& app, const std::string& name) override;
};

}  // namespace quenvar
