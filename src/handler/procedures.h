#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handler/parameter.h"

namespace quenvar {

class LocaleText;

// The parameter list of one stack entry.
class Procedures {
 public:
  void Add(std::string sParam, std::string sType, Variant vVal);
  // The parameter text, or Empty when a failure other than a type mismatch stopped it.
  Variant ReadParams(const LocaleText& locale) const;
  size_t size() const { return params_.size(); }

  static const char* GetOrdinalSuffix(uint64_t i);

 private:
  std::vector<Parameter> params_;
};

// The parameter lists of the thread's stack entries, by stack index, shared by every handler of
// the thread. No table at all until the thread's first Push; a slot may hold no list yet.
struct ProcParamTable {
  std::optional<std::vector<std::shared_ptr<Procedures>>> lists;
};

}  // namespace quenvar
