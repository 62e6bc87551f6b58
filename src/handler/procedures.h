#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "handler/parameter.h"
#include "quenvar/detail/param_table.h"

namespace quenvar {

class LocaleText;

// The parameter list of one stack entry.
class Procedures {
 public:
  void Add(std::string sParam, std::string sType, Variant vVal);
  // The parameter text, or Empty when a failure other than a type mismatch stopped it.
  Variant ReadParams(const LocaleText& locale) const;
  size_t size() const { return params_.size(); }
  const Parameter& at(size_t i) const { return params_[i]; }

  static const char* GetOrdinalSuffix(uint64_t i);

 private:
  std::vector<Parameter> params_;
};

}  // namespace quenvar
