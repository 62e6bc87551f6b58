#include "platform/posix/locale_text_posix.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "core/text.h"

namespace quenvar {

namespace {

std::string toUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t c : wide) appendUtf8(out, static_cast<char32_t>(c));
  return out;
}

std::locale environmentLocale() {
  try {
    return std::locale("");
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}

// A locale whose categories differ is named "LC_CTYPE=...;LC_TIME=...;..."; dates follow LC_TIME.
bool isCLike(const std::string& localeName) {
  std::string name = localeName;
  if (const size_t at = name.find("LC_TIME="); at != std::string::npos) {
    const size_t start = at + 8;
    name = name.substr(start, name.find(';', start) - start);
  }
  return name == "C" || name == "POSIX" || name.starts_with("C.");
}

std::string decimalDigits(uint64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// 1899-12-30, day 0 of the automation calendar, was a Saturday.
int weekday(const LocalTime& time) {
  const auto days = static_cast<int64_t>(toDate(LocalTime{time.year, time.month, time.day}).serial);
  return static_cast<int>(((days + 6) % 7 + 7) % 7);
}

}  // namespace

PosixLocaleText::PosixLocaleText() : PosixLocaleText(environmentLocale()) {}

PosixLocaleText::PosixLocaleText(const std::locale& locale)
    : locale_(locale), isoDates_(isCLike(locale.name())) {
  // The wide facet gives the whole separator character where the narrow one may keep one byte.
  const auto& punct = std::use_facet<std::numpunct<wchar_t>>(locale_);
  const std::string grouping = punct.grouping();
  const bool groups = !grouping.empty() && grouping[0] > 0 && grouping[0] != CHAR_MAX;
  if (groups && punct.thousands_sep() != L'\0') appendUtf8(thousandsSeparator_, punct.thousands_sep());
  else thousandsSeparator_.push_back(',');
  if (punct.decimal_point() != L'\0') appendUtf8(decimalPoint_, punct.decimal_point());
  else decimalPoint_.push_back('.');
}

std::string PosixLocaleText::groupedInteger(int64_t value) const {
  if (value == 0) return {};
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::string digits = decimalDigits(magnitude);
  std::string out = negative ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += thousandsSeparator_;
    out += digits[i];
  }
  return out;
}

std::string PosixLocaleText::numberText(double value) const {
  if (value == 0) value = 0;  // the runtime never shows a negative zero
  char buffer[64];
  // %G with 15 significant digits: trailing zeros go, and the exponent form starts where %G's does.
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string out;
  for (const char* p = buffer; p != result.ptr; ++p) {
    if (*p == '.') out += decimalPoint_;
    else if (*p == 'e') out += 'E';
    else out += *p;
  }
  return out;
}

std::string PosixLocaleText::currencyText(Currency value) const {
  const bool negative = value.scaled < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value.scaled) : static_cast<uint64_t>(value.scaled);
  std::string out = negative ? "-" : "";
  out += decimalDigits(magnitude / 10000);
  if (const auto fraction = static_cast<unsigned>(magnitude % 10000); fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", fraction);
    std::string decimals = digits;
    decimals.erase(decimals.find_last_not_of('0') + 1);
    out += decimalPoint_ + decimals;
  }
  return out;
}

std::string PosixLocaleText::dateTimeText(const LocalTime& time) const {
  return calendarText(time, Shown::Both);
}

std::string PosixLocaleText::dateText(Date value) const {
  const LocalTime time = toLocalTime(value);
  // As the runtime's general date form: day zero shows as a time, midnight as a date.
  if (time.year == 1899 && time.month == 12 && time.day == 30) return calendarText(time, Shown::Time);
  if (time.hour == 0 && time.minute == 0 && time.second == 0) return calendarText(time, Shown::Date);
  return calendarText(time, Shown::Both);
}

std::string PosixLocaleText::calendarText(const LocalTime& time, Shown shown) const {
  if (isoDates_) {
    char buffer[96];
    int n;
    if (shown == Shown::Date) {
      n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", time.year, time.month, time.day);
    } else if (shown == Shown::Time) {
      n = std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.hour, time.minute, time.second);
    } else {
      n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                        time.day, time.hour, time.minute, time.second);
    }
    return std::string(buffer, static_cast<size_t>(n));
  }
  std::tm tm{};
  tm.tm_year = time.year - 1900;
  tm.tm_mon = time.month - 1;
  tm.tm_mday = time.day;
  tm.tm_hour = time.hour;
  tm.tm_min = time.minute;
  tm.tm_sec = time.second;
  tm.tm_wday = weekday(time);
  tm.tm_isdst = -1;
  const std::wstring_view pattern = shown == Shown::Date ? L"%x" : shown == Shown::Time ? L"%X" : L"%x %X";
  std::wostringstream out;
  out.imbue(locale_);
  std::use_facet<std::time_put<wchar_t>>(locale_).put(std::ostreambuf_iterator<wchar_t>(out), out, L' ',
                                                      &tm, pattern.data(), pattern.data() + pattern.size());
  return toUtf8(out.view());
}

}  // namespace quenvar
