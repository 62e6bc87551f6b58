// Variant-to-text through the POSIX locale backend, in the classic locale and the C.UTF-8 one,
// over every variant type: numbers read back as the value they came from (doubles within
// 15-digit rounding, or as infinity where 15 digits round past the largest double; currency
// exactly), dates read back within half a second, default members are followed a bounded
// number of times, and nothing but AutomationError escapes.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <memory>
#include <string>

#include "quenvar/automation_error.h"
#include "quenvar/dynamic_object.h"
#include "fuzz_input.h"
#include "platform/posix/locale_text_posix.h"

namespace {

using namespace quenvar;

std::locale utf8Locale() {
  try {
    return std::locale("C.UTF-8");
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}

// An automation date as a position on one time line: the integer part names the day and the
// fraction, whatever the sign, is the time of that day.
double linear(double serial) {
  const double day = std::trunc(serial);
  return day + std::fabs(serial - day);
}

int64_t parseInteger(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) __builtin_trap();
  return value;
}

void checkNumberText(const Variant& v, const std::string& t) {
  if (const bool* b = v.boolean()) {
    if (t != (*b ? "True" : "False")) __builtin_trap();
  } else if (const int16_t* i = v.integer()) {
    if (parseInteger(t) != *i) __builtin_trap();
  } else if (const int32_t* l = v.longValue()) {
    if (parseInteger(t) != *l) __builtin_trap();
  } else if (const double* d = v.doubleValue(); d && std::isfinite(*d)) {
    const double back = std::strtod(t.c_str(), nullptr);
    // Fifteen digits round the four largest doubles of each sign up to 1.79769313486232E+308,
    // past the largest double: that classic text stays, and reads back as infinity.
    constexpr double kRoundsPastLargest = 0x1.ffffffffffffcp+1023;
    if (std::fabs(*d) >= kRoundsPastLargest) {
      if (back != std::copysign(HUGE_VAL, *d)) __builtin_trap();
    } else if (std::fabs(back - *d) > std::fabs(*d) * (5e-15 + 0x1p-52)) {
      // Half a unit of the 15th digit, then the read's own rounding to a double.
      __builtin_trap();
    }
  } else if (const Currency* c = v.currency()) {
    const size_t point = t.find('.');
    const std::string_view whole = std::string_view(t).substr(0, point);
    std::string fraction = point == std::string::npos ? "" : t.substr(point + 1);
    if (fraction.empty() == (c->scaled % 10000 != 0) || fraction.size() > 4 || fraction.ends_with('0')) __builtin_trap();
    fraction.resize(4, '0');
    const bool negative = whole.starts_with('-');
    // Compared in unsigned arithmetic: the most negative amount has no positive twin.
    const uint64_t magnitude = static_cast<uint64_t>(parseInteger(negative ? whole.substr(1) : whole)) * 10000 +
                               static_cast<uint64_t>(parseInteger(fraction));
    if ((negative ? 0 - magnitude : magnitude) != static_cast<uint64_t>(c->scaled)) __builtin_trap();
  }
}

// The classic locale writes dates as "YYYY-MM-DD hh:mm:ss", either half alone.
void checkDateText(Date date, const std::string& t) {
  LocalTime back;
  int n = 0;
  const char* c = t.c_str();
  auto whole = [&](int fields, int expected) { return fields == expected && static_cast<size_t>(n) == t.size(); };
  // Each attempt starts afresh: a failed scan may have filled some fields.
  if (back = {}; whole(std::sscanf(c, "%d-%d-%d %d:%d:%d%n", &back.year, &back.month, &back.day, &back.hour,
                                   &back.minute, &back.second, &n), 6)) {
  } else if (back = {}; whole(std::sscanf(c, "%d-%d-%d%n", &back.year, &back.month, &back.day, &n), 3)) {
  } else if (back = {1899, 12, 30}; whole(std::sscanf(c, "%d:%d:%d%n", &back.hour, &back.minute, &back.second, &n), 3)) {
  } else {
    __builtin_trap();
  }
  // Far from day zero a serial holds the time only to the spacing of doubles there (40 us two
  // million days out), and toDate and linear each round to it once more.
  const double far = std::fabs(date.serial) + 1, spacing = std::nextafter(far, HUGE_VAL) - far;
  if (std::fabs(linear(toDate(back).serial) - linear(date.serial)) > 0.5 / 86400 + 4 * spacing) __builtin_trap();
}

// An object whose default member is the next value of the input, perhaps another object,
// perhaps itself.
Variant value(fuzz::Input& in, int depth) {
  if (depth > 20 || in.byte() % 5 != 0) return in.scalar();
  auto o = std::make_shared<DynamicObject>();
  if (in.byte() % 4 == 0) {
    std::weak_ptr<DynamicObject> self = o;
    o->setDefault([self](std::span<const Variant>) { return Variant(ObjectRef(self.lock())); });
  } else if (in.byte() % 4 != 0) {
    o->setDefault([v = value(in, depth + 1)](std::span<const Variant>) { return v; });
  }
  return Variant(ObjectRef(o));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const PosixLocaleText classic(std::locale::classic());
  static const PosixLocaleText utf8(utf8Locale());
  fuzz::Input in(data, size);
  while (!in.empty()) {
    const Variant v = value(in, 0);
    std::string t;
    try {
      t = classic.text(v);
      if (utf8.text(v) != t) __builtin_trap();  // the two differ in no category we use
    } catch (const AutomationError& e) {
      const bool mismatch = e.number() == err::kTypeMismatch;
      const bool noDefault = e.number() == err::kNoSuchMember && v.isObject();
      // Dates beyond the calendar; an object's default member may lead to one.
      const bool farDate = e.number() == err::kOverflow &&
                           (v.isObject() || (v.date() && !(std::isfinite(v.date()->serial) &&
                                                           std::fabs(v.date()->serial) <= 3e6)));
      if (!mismatch && !noDefault && !farDate) __builtin_trap();
      continue;
    }
    checkNumberText(v, t);
    if (const Date* d = v.date()) checkDateText(*d, t);
    const int64_t n = in.number<int64_t>();
    std::string grouped = classic.groupedInteger(n);
    std::erase(grouped, ',');
    if (grouped != (n == 0 ? "" : std::to_string(n))) __builtin_trap();
  }
  return 0;
}
