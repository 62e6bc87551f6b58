#include "handler/procedures.h"

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "platform/locale_text.h"
#include "report/secrets.h"

namespace quenvar {

void Procedures::Add(std::string sParam, std::string sType, Variant vVal) {
  params_.push_back(Parameter{std::move(sParam), std::move(sType), std::move(vVal)});
}

const char* Procedures::GetOrdinalSuffix(uint64_t i) {
  switch (i % 100) {
    case 11:
    case 12:
    case 13: return "th";
    default: break;
  }
  switch (i % 10) {
    case 1: return "st";
    case 2: return "nd";
    case 3: return "rd";
    default: return "th";
  }
}

Variant Procedures::ReadParams(const LocaleText& locale) const {
  // Counted in 64 bits: a 16-bit counter would overflow at the 32,768th parameter.
  const uint64_t n = params_.size();
  std::string t(kCrLf);
  try {
    for (uint64_t i = 1; i <= n; ++i) {
      // By index and by copy: reading an object value may call back and add parameters.
      const Parameter p = params_[static_cast<size_t>(i - 1)];
      t += std::to_string(i);
      t += GetOrdinalSuffix(i);
      t += " Param:";
      t += kCrLf;
      t += "Name: \t";
      t += p.Param;
      t += kCrLf;
      t += "Type : \t";
      t += p.PrmType;
      t += kCrLf;
      t += "Value: \t";
      try {
        // As connection properties are: a password is never read, items naming one are masked.
        t += isSecretName(p.Param) ? std::string(kMaskedSecret) : maskSecretItems(locale.text(p.Value));
      } catch (const AutomationError& e) {
        if (e.number() != err::kTypeMismatch) throw;
        t += "-----";
      }
      t += kCrLf;
      if (i < n) t += kCrLf;
    }
  } catch (...) {
    // A client's object may throw anything; every failure but a type mismatch ends the text.
    return Variant();
  }
  return Variant(std::move(t));
}

}  // namespace quenvar
