#include "mail/mail_settings.h"

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "quenvar/variant.h"

namespace quenvar::settings {

bool toBoolean(const std::string& text) {
  std::string_view t = trimBlanks(text);
  if (equalsIgnoreCase(t, "True")) return true;
  if (equalsIgnoreCase(t, "False")) return false;
  return Variant(std::string(t)).toDouble() != 0;
}

}  // namespace quenvar::settings
