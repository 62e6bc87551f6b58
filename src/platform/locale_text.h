#pragma once
// Turning values into text the way a user of the platform reads them.

#include <cstdint>
#include <string>

#include "quenvar/variant.h"
#include "platform/clock.h"

namespace quenvar {

class LocaleText {
 public:
  virtual ~LocaleText() = default;

  // The standard variant-to-text conversion: numbers and dates in the user's form, Booleans
  // as True/False, Empty and Null as nothing, an object through its default member. Arrays
  // and error values have no text: type mismatch (13).
  std::string text(const Variant& value) const;

  // Digit groups of three with the user's thousands separator; 0 gives the empty text.
  virtual std::string groupedInteger(int64_t value) const = 0;
  virtual std::string dateTimeText(const LocalTime& time) const = 0;

 protected:
  // Only Double, Currency and Date reach here.
  virtual std::string numberText(double value) const = 0;
  virtual std::string currencyText(Currency value) const = 0;
  virtual std::string dateText(Date value) const = 0;
};

// Calendar conversions of the automation date (days since 1899-12-30).
LocalTime toLocalTime(Date date);
Date toDate(const LocalTime& time);

}  // namespace quenvar
