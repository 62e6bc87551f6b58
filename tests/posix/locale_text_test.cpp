#include "platform/posix/locale_text_posix.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

#include "quenvar/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

// National punctuation no installed locale need provide, with a two-byte separator.
class SpacedPunctuation : public std::numpunct<wchar_t> {
 protected:
  wchar_t do_thousands_sep() const override { return L'\u00A0'; }
  wchar_t do_decimal_point() const override { return L','; }
  std::string do_grouping() const override { return "\3"; }
};

const PosixLocaleText c{std::locale::classic()};
const PosixLocaleText national{std::locale(std::locale::classic(), new SpacedPunctuation)};

TEST(PosixLocaleText, GroupsIntegersInThrees) {
  EXPECT_EQ(c.groupedInteger(0), "");
  EXPECT_EQ(c.groupedInteger(999), "999");
  EXPECT_EQ(c.groupedInteger(-1234), "-1,234");
  EXPECT_EQ(c.groupedInteger(1234567), "1,234,567");
  EXPECT_EQ(c.groupedInteger(INT64_MIN), "-9,223,372,036,854,775,808");
  EXPECT_EQ(national.groupedInteger(1234567), "1\xC2\xA0" "234\xC2\xA0" "567");
}

TEST(PosixLocaleText, NumbersAsTheRuntimeShowsThem) {
  EXPECT_EQ(c.text(3.0), "3");
  EXPECT_EQ(c.text(2.5), "2.5");
  EXPECT_EQ(c.text(-0.1), "-0.1");
  EXPECT_EQ(c.text(-0.0), "0");
  EXPECT_EQ(c.text(0.1 + 0.2), "0.3");
  EXPECT_EQ(c.text(1e20), "1E+20");
  EXPECT_EQ(c.text(1e14), "100000000000000");
  EXPECT_EQ(c.text(1e-5), "1E-05");
  EXPECT_EQ(c.text(123456789012345678.0), "1.23456789012346E+17");
  // Fifteen digits round the largest doubles past the largest double: the classic text all the
  // same, though it reads back as infinity.
  EXPECT_EQ(c.text(std::numeric_limits<double>::max()), "1.79769313486232E+308");
  EXPECT_EQ(c.text(std::numeric_limits<double>::lowest()), "-1.79769313486232E+308");
  EXPECT_EQ(c.text(0x1.ffffffffffffbp+1023), "1.79769313486231E+308");
  EXPECT_EQ(national.text(1234.5), "1234,5");

  EXPECT_EQ(c.text(Currency{12300}), "1.23");
  EXPECT_EQ(c.text(Currency{50000}), "5");
  EXPECT_EQ(c.text(Currency{-5000}), "-0.5");
  EXPECT_EQ(c.text(Currency{INT64_MIN}), "-922337203685477.5808");
  EXPECT_EQ(national.text(Currency{123456789}), "12345,6789");
}

TEST(PosixLocaleText, DatesInIsoFormInCLikeLocales) {
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    SCOPED_TRACE(name);
    const PosixLocaleText iso{std::locale(name)};
    EXPECT_EQ(iso.dateTimeText(LocalTime{2024, 1, 2, 0, 0, 0}), "2024-01-02 00:00:00");
    EXPECT_EQ(iso.text(Date{45000.5}), "2023-03-15 12:00:00");
    EXPECT_EQ(iso.text(Date{45000}), "2023-03-15");  // midnight: the date alone
    EXPECT_EQ(iso.text(Date{0.75}), "18:00:00");     // day zero: the time alone
    EXPECT_EQ(iso.text(Date{-1.5}), "1899-12-29 12:00:00");
  }
  EXPECT_THROW((void)c.text(Date{1e300}), AutomationError);
}

TEST(PosixLocaleText, DatesInTheLocaleFormOtherwise) {
  // The classic locale's %x and %X, reached through a locale not named C.
  EXPECT_EQ(national.dateTimeText(LocalTime{2024, 1, 2, 3, 4, 5}), "01/02/24 03:04:05");
  EXPECT_EQ(national.text(Date{45000}), "03/15/23");
  EXPECT_EQ(national.text(Date{0.5}), "12:00:00");
}

TEST(PosixLocaleText, AnInvalidEnvironmentLocaleFallsBackToClassic) {
  testing::ScopedEnv all("LC_ALL", "xx_NOWHERE.UTF-8");
  const PosixLocaleText fallback;
  EXPECT_EQ(fallback.groupedInteger(1234), "1,234");
  EXPECT_EQ(fallback.dateTimeText(LocalTime{2024, 1, 2, 3, 4, 5}), "2024-01-02 03:04:05");
}

}  // namespace
}  // namespace quenvar
