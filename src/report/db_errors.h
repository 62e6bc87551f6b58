#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "quenvar/object.h"

namespace quenvar {

// Drops an ODBC driver prefix: "Database Error: " and what follows the prefix.
std::string CleanDBMessage(std::string_view strMessage);

class LocaleText;

// Reads the connection's driver errors into the error being handled: the description becomes
// their listing and the number is rebased, or the description is only cleaned when there are
// none; then clears them. Never fails: whatever was changed before a failure stays.
void CollectDBErrors(const ObjectRef& connection, const LocaleText& lt, int32_t& number,
                     std::string& description, int32_t& errorType);

}  // namespace quenvar
