#pragma once
// Database passwords never reach a report, a log or a mail.

#include <string>
#include <string_view>

namespace quenvar {

inline constexpr std::string_view kMaskedSecret = "********";

// A property name that names a password ("password" or "pwd", any letter case).
bool isSecretName(std::string_view name);
// Masks the value of every key=value item whose key names a password, as in a connection
// string ("Provider=x;PWD=y" gives "Provider=x;PWD=********"). Braced and quoted values are
// masked whole, up to the next ';'; other quoted or braced values have their own items masked
// ("Extended Properties=\"DSN=x;PWD=y\"").
std::string maskSecretItems(std::string_view text);

}  // namespace quenvar
