#pragma once

#include <locale>

#include "platform/locale_text.h"

namespace quenvar {

class PosixLocaleText : public LocaleText {
 public:
  // The user's locale from the environment; the classic one when that names no valid locale.
  PosixLocaleText();
  explicit PosixLocaleText(const std::locale& locale);

  std::string groupedInteger(int64_t value) const override;
  std::string dateTimeText(const LocalTime& time) const override;

 protected:
  std::string numberText(double value) const override;
  std::string currencyText(Currency value) const override;
  std::string dateText(Date value) const override;

 private:
  enum class Shown { Date, Time, Both };
  std::string calendarText(const LocalTime& time, Shown shown) const;

  std::locale locale_;
  // As UTF-8: a locale's separator may be a character beyond ASCII (a narrow no-break space).
  std::string thousandsSeparator_;
  std::string decimalPoint_;
  // The C-like locales carry no national date form; those get the ISO one.
  bool isoDates_ = false;
};

}  // namespace quenvar
