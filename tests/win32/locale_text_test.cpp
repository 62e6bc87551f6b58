#include "platform/win32/locale_text_win32.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

#include "win32_test_support.h"

namespace quenvar {
namespace {

std::string localeInfo(LCTYPE item) {
  wchar_t buffer[80];
  const int length = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, item, buffer, 80);
  return length > 1 ? win32::narrow(std::wstring_view(buffer, static_cast<size_t>(length - 1))) : std::string();
}

SYSTEMTIME systemTime(const LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  return st;
}

// The user's short date and long time forms, asked of the locale calls directly.
std::string shortDate(const LocalTime& t) {
  const SYSTEMTIME st = systemTime(t);
  wchar_t buffer[80];
  const int length = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, 80);
  return win32::narrow(std::wstring_view(buffer, static_cast<size_t>(length > 0 ? length - 1 : 0)));
}

std::string longTime(const LocalTime& t) {
  const SYSTEMTIME st = systemTime(t);
  wchar_t buffer[80];
  const int length = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 80);
  return win32::narrow(std::wstring_view(buffer, static_cast<size_t>(length > 0 ? length - 1 : 0)));
}

const Win32LocaleText locale;

TEST(Win32LocaleText, GroupsIntegersWithTheUserSeparator) {
  std::string separator = localeInfo(LOCALE_STHOUSAND);
  if (separator.empty()) separator = ",";
  std::cout << "User locale " << std::hex << ::GetUserDefaultLCID() << std::dec << ", thousands separator '"
            << separator << "', decimal '" << localeInfo(LOCALE_SDECIMAL) << "'\n";
  EXPECT_EQ(locale.groupedInteger(0), "");
  EXPECT_EQ(locale.groupedInteger(999), "999");
  EXPECT_EQ(locale.groupedInteger(-1234), "-1" + separator + "234");
  EXPECT_EQ(locale.groupedInteger(1234567), "1" + separator + "234" + separator + "567");
  EXPECT_EQ(locale.groupedInteger(INT64_MIN), "-9" + separator + "223" + separator + "372" + separator + "036" +
                                                  separator + "854" + separator + "775" + separator + "808");
}

TEST(Win32LocaleText, NumbersAndCurrencyInTheUserForm) {
  const std::string point = localeInfo(LOCALE_SDECIMAL);
  ASSERT_FALSE(point.empty());
  std::cout << "2.5 -> " << locale.text(2.5) << ", 1e20 -> " << locale.text(1e20) << ", currency 1234.5678 -> "
            << locale.text(Currency{12345678}) << "\n";
  EXPECT_EQ(locale.text(2.5), "2" + point + "5");
  EXPECT_EQ(locale.text(3.0), "3");
  EXPECT_EQ(locale.text(-0.0), "0");
  EXPECT_EQ(locale.text(1e20), "1E+20");
  // The classic text of the largest doubles, fifteen digits rounded past the largest double.
  EXPECT_EQ(locale.text(std::numeric_limits<double>::lowest()), "-1" + point + "79769313486232E+308");
  EXPECT_EQ(locale.text(0x1.ffffffffffffbp+1023), "1" + point + "79769313486231E+308");
  EXPECT_EQ(locale.text(0.1 + 0.2), "0" + point + "3");
  EXPECT_EQ(locale.text(Currency{12345678}), "1234" + point + "5678");
  EXPECT_EQ(locale.text(Currency{50000}), "5");
  EXPECT_EQ(locale.text(Currency{-5000}), "-0" + point + "5");
}

TEST(Win32LocaleText, DatesInTheGeneralForm) {
  const LocalTime noon{2023, 3, 15, 12, 0, 0};
  const LocalTime midnight{2023, 3, 15, 0, 0, 0};
  const LocalTime evening{1899, 12, 30, 18, 0, 0};
  std::cout << "Date 45000.5 -> " << locale.text(Date{45000.5}) << "\n";
  EXPECT_EQ(locale.text(toDate(noon)), shortDate(noon) + " " + longTime(noon));
  EXPECT_EQ(locale.text(toDate(midnight)), shortDate(midnight));  // midnight: the date alone
  EXPECT_EQ(locale.text(toDate(evening)), longTime(evening));     // day zero: the time alone
  EXPECT_EQ(locale.text(Date{45000.5}), locale.text(toDate(noon)));
  EXPECT_THROW((void)locale.text(Date{1e300}), AutomationError);
}

TEST(Win32LocaleText, DateTimeTextAlwaysShowsBoth) {
  const LocalTime midnight{2024, 1, 2, 0, 0, 0};
  const LocalTime dayZero{1899, 12, 30, 0, 0, 0};
  const LocalTime later{2024, 12, 31, 23, 59, 58};
  std::cout << "Current Time at midnight -> " << locale.dateTimeText(midnight) << "\n";
  EXPECT_EQ(locale.dateTimeText(midnight), shortDate(midnight) + " " + longTime(midnight));
  EXPECT_EQ(locale.dateTimeText(dayZero), shortDate(dayZero) + " " + longTime(dayZero));
  EXPECT_EQ(locale.dateTimeText(later), shortDate(later) + " " + longTime(later));
  EXPECT_NE(locale.dateTimeText(later), locale.dateTimeText(midnight));
  // Where the variant conversion shows both parts, the two agree.
  const LocalTime noon{2023, 3, 15, 12, 0, 0};
  EXPECT_EQ(locale.dateTimeText(noon), locale.text(toDate(noon)));
  EXPECT_EQ(locale.dateTimeText(later), locale.text(toDate(later)));
  EXPECT_THROW((void)locale.dateTimeText(LocalTime{10000, 1, 1, 0, 0, 0}), AutomationError);
}

}  // namespace
}  // namespace quenvar
