#pragma once

#include <string>
#include <string_view>

namespace quenvar {

// Drops an ODBC driver prefix: "Database Error: " and what follows the prefix.
std::string CleanDBMessage(std::string_view strMessage);

}  // namespace quenvar
