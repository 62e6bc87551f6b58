#include <gtest/gtest.h>

#include <cmath>

#include "client_objects.h"
#include "quenvar/automation_error.h"
#include "fakes/fake_platform.h"

namespace quenvar {
namespace {

int32_t failureNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(Variant, RoundsHalfToEvenAndDetectsOverflow) {
  EXPECT_EQ(roundToLong(2.5), 2);
  EXPECT_EQ(roundToLong(3.5), 4);
  EXPECT_EQ(roundToLong(-2.5), -2);
  EXPECT_EQ(roundToLong(2147483647.4), 2147483647);
  EXPECT_EQ(failureNumber([] { roundToLong(2147483647.5); }), err::kOverflow);
  EXPECT_EQ(failureNumber([] { roundToLong(1e10); }), err::kOverflow);
  EXPECT_EQ(failureNumber([] { roundToLong(std::nan("")); }), err::kOverflow);
  EXPECT_EQ(narrowToInteger(-32768), -32768);
  EXPECT_EQ(failureNumber([] { narrowToInteger(40000); }), err::kOverflow);
}

TEST(Variant, NumbersFromTextAndOtherTypes) {
  EXPECT_EQ(Variant("42").toLong(), 42);
  EXPECT_EQ(Variant(true).toLong(), -1);
  EXPECT_EQ(Variant(Currency{25000}).toDouble(), 2.5);
  EXPECT_EQ(failureNumber([] { Variant("4x").toDouble(); }), err::kTypeMismatch);
  EXPECT_EQ(failureNumber([] { Variant(VariantArray{}).toDouble(); }), err::kTypeMismatch);
}

TEST(VariantText, ConvertsEveryKindOrRefuses) {
  fake::LocaleText locale;
  EXPECT_EQ(locale.text(Variant()), "");
  EXPECT_EQ(locale.text(Variant::null()), "");
  EXPECT_EQ(locale.text(Variant(true)), "True");
  EXPECT_EQ(locale.text(Variant(false)), "False");
  EXPECT_EQ(locale.text(Variant(int16_t{-7})), "-7");
  EXPECT_EQ(locale.text(Variant(2.5)), "2.5");
  EXPECT_EQ(locale.text(Variant("Smith")), "Smith");
  EXPECT_EQ(locale.text(Variant(toDate(LocalTime{2026, 12, 7, 9, 30, 5}))), "2026-12-07 09:30:05");

  auto withDefault = test::object();
  withDefault->setDefault([](std::span<const Variant>) { return Variant(int32_t{42}); });
  EXPECT_EQ(locale.text(Variant(ObjectRef(withDefault))), "42");
  EXPECT_EQ(failureNumber([&] { locale.text(Variant(ObjectRef(test::object()))); }), err::kNoSuchMember);
  EXPECT_EQ(failureNumber([&] { locale.text(Variant(ObjectRef())); }), err::kObjectNotSet);
  EXPECT_EQ(failureNumber([&] { locale.text(Variant(VariantArray{})); }), err::kTypeMismatch);
  EXPECT_EQ(failureNumber([&] { locale.text(Variant(ErrorValue{5})); }), err::kTypeMismatch);

  // A default member that returns its own object cannot loop forever.
  auto selfish = test::object();
  std::weak_ptr<DynamicObject> weak = selfish;
  selfish->setDefault([weak](std::span<const Variant>) { return Variant(ObjectRef(weak.lock())); });
  EXPECT_EQ(failureNumber([&] { locale.text(Variant(ObjectRef(selfish))); }), err::kTypeMismatch);
}

TEST(VariantText, AutomationDatesRoundTripThroughTheCalendar) {
  for (LocalTime t : {LocalTime{1899, 12, 30, 0, 0, 0}, LocalTime{2000, 2, 29, 23, 59, 59},
                      LocalTime{1899, 12, 29, 6, 0, 0}, LocalTime{1900, 1, 1, 12, 0, 0}}) {
    LocalTime back = toLocalTime(toDate(t));
    EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second),
              std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second));
  }
  EXPECT_EQ(toDate(LocalTime{2000, 1, 1, 0, 0, 0}).serial, 36526);
  EXPECT_EQ(toDate(LocalTime{1899, 12, 29, 6, 0, 0}).serial, -1.25);
}

TEST(DynamicObject, MembersMatchWithoutLetterCase) {
  auto o = test::object();
  o->set("ConnectionString", "x");
  EXPECT_EQ(*get(o, "connectionstring").string(), "x");
  EXPECT_EQ(failureNumber([&] { get(o, "Missing"); }), err::kNoSuchMember);
  EXPECT_EQ(failureNumber([] { get(ObjectRef(), "Anything"); }), err::kObjectNotSet);
}

}  // namespace
}  // namespace quenvar
