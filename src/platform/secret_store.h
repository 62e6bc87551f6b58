#pragma once
// Secrets of the current user (a mail password), kept where only that user can read them and
// never in clear beside the settings. Addressed by application and name, as settings are.

#include <optional>
#include <string>

namespace quenvar {

class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual std::optional<std::string> get(const std::string& app, const std::string& name) = 0;
  virtual void save(const std::string& app, const std::string& name, const std::string& secret) = 0;
  virtual void remove(const std::string& app, const std::string& name) = 0;
};

}  // namespace quenvar
