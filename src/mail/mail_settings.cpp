#include "mail/mail_settings.h"

#include "core/text.h"
#include "platform/settings_store.h"
#include "quenvar/variant.h"

namespace quenvar {

std::optional<std::string> UserMailSettings::get(const std::string& key) const {
  return store_.get(kApplication, kSection, key);
}

std::string UserMailSettings::get(const std::string& key, const char* fallback) const {
  return get(key).value_or(fallback);
}

void UserMailSettings::save(const std::string& key, const std::string& value) {
  store_.save(kApplication, kSection, key, value);
}

bool UserMailSettings::unlocked() const {
  const std::optional<std::string> stored = get(kEmailSettings);
  return stored ? storedBoolean(*stored) : true;
}

int32_t UserMailSettings::route() const { return Variant(get(kEmailType, "0")).toLong(); }

bool storedBoolean(const std::string& text) {
  std::string_view t = trimBlanks(text);
  if (equalsIgnoreCase(t, "True")) return true;
  if (equalsIgnoreCase(t, "False")) return false;
  return Variant(std::string(t)).toDouble() != 0;
}

}  // namespace quenvar
