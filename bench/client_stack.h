#pragma once
// The stack a typical client has when it handles an error: 20 procedures deep, 10 parameters.

#include <cstdint>
#include <string>

#include "quenvar/err_handler.h"

inline void pushClientStack(quenvar::clsErrHandler& h) {
  for (int i = 1; i <= 20; ++i) h.Push("Procedure" + std::to_string(i));
  for (int i = 1; i <= 10; ++i)
    h.AddParam("Argument" + std::to_string(i), "Long", quenvar::Variant(int32_t{i * 1000}));
}
