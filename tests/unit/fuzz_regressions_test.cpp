// Inputs the fuzz targets found faults with, fed through the ordinary API.

#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

// A time that rounds up to midnight is the next day's start, also before 1899-12-30, where
// the fraction still counts forward from the day's own midnight.
TEST_F(HandlerFixture, DateJustBeforeMidnightBeforeTheEpochRoundsToTheNextDay) {
  handler.Push("Main");
  handler.AddParam("dtmLate", "Date", Date{-0.999999999});
  handler.AddParam("dtmEarlier", "Date", Date{-1.9999999999});
  const std::string text = handler.ShowParam();
  EXPECT_NE(text.find("Value: \t1899-12-31 00:00:00"), std::string::npos) << text;
  EXPECT_NE(text.find("Value: \t1899-12-30 00:00:00"), std::string::npos) << text;
}

}  // namespace
}  // namespace quenvar
