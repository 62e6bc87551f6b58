#include "platform/locale_text.h"

#include <cmath>

#include "quenvar/automation_error.h"
#include "quenvar/object.h"

namespace quenvar {

std::string LocaleText::text(const Variant& value) const {
  Variant v = value;
  // A default member may itself return an object; follow it a bounded number of times so a
  // self-returning default cannot loop.
  for (int hops = 0; v.isObject(); ++hops) {
    ObjectRef o = v.asObject();
    if (!o) raiseObjectNotSet();
    if (hops == 16) raiseTypeMismatch();
    v = o->defaultValue();
  }
  switch (v.type()) {
    case Variant::Type::Empty:
    case Variant::Type::Null: return {};
    case Variant::Type::Boolean: return *v.boolean() ? "True" : "False";
    case Variant::Type::Integer: return std::to_string(*v.integer());
    case Variant::Type::Long: return std::to_string(*v.longValue());
    case Variant::Type::Double: return numberText(*v.doubleValue());
    case Variant::Type::Currency: return currencyText(*v.currency());
    case Variant::Type::Date: return dateText(*v.date());
    case Variant::Type::String: return *v.string();
    default: raiseTypeMismatch();
  }
}

namespace {
// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
constexpr int64_t kEpochOffset = 25569;  // 1970-01-01 as an automation date
}  // namespace

Date toDate(const LocalTime& t) {
  double days = static_cast<double>(daysFromCivil(t.year, t.month, t.day) + kEpochOffset);
  double fraction = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
  // Before the epoch the fraction counts away from zero, as the automation date does.
  return Date{days < 0 ? days - fraction : days + fraction};
}

LocalTime toLocalTime(Date date) {
  double serial = date.serial;
  if (!std::isfinite(serial) || std::fabs(serial) > 3e6) raiseOverflow();
  double whole = std::trunc(serial);
  int64_t secs = std::llround(std::fabs(serial - whole) * 86400.0);
  int64_t z = static_cast<int64_t>(whole) - kEpochOffset + 719468;
  // A time that rounds up to midnight is the start of the next day, before the epoch too:
  // the fraction of a negative date counts forward from its own day's midnight.
  if (secs == 86400) {
    secs = 0;
    ++z;
  }
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  LocalTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  return t;
}

}  // namespace quenvar
