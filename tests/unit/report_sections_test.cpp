// The sections built from plain data, with no handler: what each input does to its section.

#include "report/report.h"

#include "core/steps.h"
#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

struct Sections {
  fake::Services services;
  Steps step;
  std::vector<std::string> stack{"", "Main", "Load"};
  ReportInput in;
  Sections() {
    step.continuePastFailure();
    in.number = 11, in.procedure = "Load", in.line = 7, in.description = "Division by zero";
    in.application = [] { return ObjectRef(); };
    in.connection = [] { return ObjectRef(); };
    in.stackEntry = [this](size_t level) -> std::optional<std::string> {
      if (level >= stack.size()) return std::nullopt;
      return stack[level];
    };
    in.parameterText = [] { return std::string("\r\n"); };
    in.currentOperation = [] { return std::string(); };
  }
  std::string error() { return errorSection(in, services.platform, step); }
};

struct ReportSections : ::testing::Test, Sections {};

const std::string kHead = "=====================\r\n\r\nCurrent Time:\t2026-12-07 09:30:05\r\nError Number:\t11\r\n"
                          "Error Procedure:\tLoad\r\nError Line:\t7\r\nError Description:\tDivision by zero\r\n\r\n"
                          "Procedure Stack\r\n-------------------\r\n";

TEST_F(ReportSections, ErrorSectionFollowsItsInput) {
  struct Case {
    const char* what;
    std::function<void(Sections&)> change;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", [](Sections&) {},
       "Application Error Information\r\n" + kHead + "01  Main\r\n02    Load\r\n\r\n"},
      {"database heading, message, operation",
       [](Sections& t) {
         t.in.databaseError = true;
         t.in.customMessage = "Could not post.";
         t.in.currentOperation = [] { return std::string("Posting"); };
       },
       "Database Error Information\r\n=====================\r\n\r\nCould not post.\r\n\r\n" + kHead.substr(25) +
           "01  Main\r\n02    Load\r\n\r\n\r\nCurrent Operation: Posting\r\n"},
      {"a level the stack lost drops that line only",
       [](Sections& t) {
         t.in.stackEntry = [&t](size_t level) -> std::optional<std::string> {
           if (level == 1) raiseSubscript();
           if (level >= t.stack.size()) return std::nullopt;
           return t.stack[level];
         };
       },
       "Application Error Information\r\n" + kHead + "02    Load\r\n\r\n"},
      {"failing parameter text drops its line",
       [](Sections& t) { t.in.parameterText = []() -> std::string { raiseObjectNotSet(); }; },
       "Application Error Information\r\n" + kHead + "01  Main\r\n02    Load\r\n"},
  };
  for (const Case& c : cases) {
    Sections t;
    c.change(t);
    EXPECT_EQ(t.error(), c.expected) << c.what;
  }
}

TEST_F(ReportSections, DeepStacksIndentByTwoBlanksALevelUpToAHundred) {
  for (int i = 1; i <= 120; ++i) stack.push_back("P" + std::to_string(i + 2));
  const std::string s = error();
  EXPECT_NE(s.find("\r\n09" + std::string(18, ' ') + "P9\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\n12" + std::string(24, ' ') + "P12\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\n100" + std::string(200, ' ') + "P100\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\n122" + std::string(200, ' ') + "P122\r\n"), std::string::npos);
}

TEST_F(ReportSections, EveryLineReadsTheApplicationAsItIsThen) {
  auto first = application();
  auto second = application();
  second->set("Title", "Replaced").set("CompanyName", "Other Ltd").set("Path", "/elsewhere");
  ObjectRef current = first;
  first->on("CompanyName", [&](std::span<const Variant>) {
    current = second;
    return Variant("Palvenor Ltd");
  });
  in.application = [&] { return current; };
  const std::string err = error();
  EXPECT_EQ(err.rfind("Orders Application Error Information\r\n", 0), 0u);
  EXPECT_NE(err.find("Company Name:\tPalvenor Ltd\r\n"), std::string::npos);
  EXPECT_NE(err.find("Path:\t\t/elsewhere\r\n"), std::string::npos) << "lines after the switch read the new object";
  std::string app;
  applicationSection(in, services.platform, step, app);
  EXPECT_NE(app.find("Title:\tReplaced\r\n"), std::string::npos);
  EXPECT_NE(app.find("CompanyName:\tOther Ltd\r\n"), std::string::npos);
  std::string db = "previous";
  databaseSection(in, services.platform, step, db);
  EXPECT_EQ(db, "Database Information\r\n==============\r\n\r\n") << "no connection: the heading alone";
}

}  // namespace
}  // namespace quenvar
