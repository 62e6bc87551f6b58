#pragma once
// Values through the system's own variant conversion, in the user's locale; a full date and time
// through the locale's date and time forms that conversion is made of.

#include "platform/locale_text.h"

namespace quenvar {

class Win32LocaleText : public LocaleText {
 public:
  std::string groupedInteger(int64_t value) const override;
  // Always the short date and the long time, even at midnight, where the general date form
  // would drop the time.
  std::string dateTimeText(const LocalTime& time) const override;

 protected:
  std::string numberText(double value) const override;
  std::string currencyText(Currency value) const override;
  std::string dateText(Date value) const override;
};

}  // namespace quenvar
