// A million stack entries and a hundred thousand parameters: every path stays linear, so each
// case finishes in seconds (the test's time limit is the check) and the report keeps its shape.

#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

struct DeepStack : HandlerFixture {
  DeepStack() { handler.Destination("/logs"); }
};

// The stack line of entry i as the report writes it, with `blanks` of indentation.
std::string stackLine(size_t i, size_t blanks) {
  return "\r\n" + std::string(i < 10 ? "0" : "") + std::to_string(i) + std::string(blanks, ' ') + "p" +
         std::to_string(i) + "\r\n";
}

TEST_F(DeepStack, MillionEntriesAndHundredThousandParameters) {
  constexpr size_t kDepth = 1'000'000, kParams = 100'000;
  for (size_t i = 1; i <= kDepth; ++i) ASSERT_EQ(handler.Push("p" + std::to_string(i)), 0);
  for (size_t i = 0; i < kParams; ++i) handler.AddParam("a" + std::to_string(i), "Long", Variant(int32_t(i)));
  EXPECT_EQ(handler.CallStack().items.size(), kDepth + 1);
  const std::string params = handler.ShowParam();
  EXPECT_NE(params.find("\r\n100000th Param:\r\nName: \ta99999\r\nType : \tLong\r\nValue: \t99999\r\n"),
            std::string::npos);

  ASSERT_EQ(handler.HandleError("Deep", 28), 0);
  const std::string& report = handler.ErrorLogDisplay();
  // Two blanks per level up to level 100, the same 200 blanks below it. The lines are searched
  // in order, so the report is read once.
  size_t at = 0;
  for (size_t i : {1, 12, 99, 100, 101, 5000, 1'000'000}) {
    at = report.find(stackLine(i, 2 * std::min<size_t>(i, 100)), at);
    ASSERT_NE(at, std::string::npos) << i;
  }
  EXPECT_EQ(report.compare(at + stackLine(kDepth, 200).size(), params.size(), params), 0);
  EXPECT_LT(report.size(), kDepth * 220 + params.size());
  EXPECT_EQ(handler.ProcName(), "p1000000");
  EXPECT_EQ(handler.StackDepth(), 0);
  EXPECT_EQ(handler.CallStack().items.size(), 1u);
}

TEST_F(DeepStack, ParametersOnEveryEntryWithTracing) {
  constexpr int32_t kDepth = 100'000;
  handler.TraceExecution(true);
  for (int32_t i = 1; i <= kDepth; ++i) {
    handler.Push("p" + std::to_string(i));
    handler.AddParam("depth", "Long", Variant(i));
  }
  EXPECT_EQ(std::count(services.files.files.at("/logs/Trace.log").begin(),
                       services.files.files.at("/logs/Trace.log").end(), '\n'),
            kDepth);
  for (int32_t i = kDepth; i >= 1; --i) {
    if (i % 25'000 == 0) {
      EXPECT_EQ(handler.ShowParam(), "\r\n1st Param:\r\nName: \tdepth\r\nType : \tLong\r\nValue: \t" +
                                         std::to_string(i) + "\r\n");
    }
    ASSERT_EQ(handler.Pop(), 0);
  }
  EXPECT_EQ(handler.Pop(), 0);
  EXPECT_EQ(handler.CallStack().items.size(), 1u);
}

}  // namespace
}  // namespace quenvar
