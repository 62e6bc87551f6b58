#pragma once

#include <string>

#include "quenvar/variant.h"

namespace quenvar {

// One recorded argument. An object value is held by reference, so its state is read when the
// list is turned into text; any other value is a copy.
struct Parameter {
  std::string Param;
  std::string PrmType;
  Variant Value;
};

}  // namespace quenvar
