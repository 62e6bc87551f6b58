#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;
using ErrorLog = HandlerFixture;

TEST_F(ErrorLog, HoldsOnlyTheLatestErrorSection) {
  handler.Destination("/logs");
  handler.HandleError("first", 1);
  handler.HandleError("second", 2);
  const std::string& log = services.files.files["/logs/Error.log"];
  EXPECT_EQ(log, handler.ErrorLogDisplay() + "\r\n");
  EXPECT_EQ(log.find("first"), std::string::npos);
}

TEST_F(ErrorLog, UnwritableFileIsSkippedButAFailedWriteIsReported) {
  handler.Destination("/logs");
  services.files.failOpen.insert("/logs/Error.log");
  EXPECT_EQ(handler.HandleError("x", 1), 0);
  EXPECT_FALSE(services.files.fileExists("/logs/Error.log"));

  // Once open, a write or close that fails (a full disk) keeps the previous log whole and is
  // reported; the rest of the handling goes on.
  services.files.failOpen.clear();
  handler.HandleError("previous", 1);
  const std::string previous = services.files.files["/logs/Error.log"];
  for (auto* failing : {&services.files.failWrite, &services.files.failClose}) {
    failing->insert("/logs/Error.log");
    handler.Push("P");
    EXPECT_EQ(handler.HandleError("x", 2), err::kPathFileAccess);
    EXPECT_EQ(handler.StackDepth(), 0);
    EXPECT_EQ(services.files.files["/logs/Error.log"], previous);
    EXPECT_EQ(services.files.openHandles, 0) << "closed even after a failed write";
    failing->clear();
  }
  EXPECT_TRUE(services.messageBox.shown.empty());
}

TEST_F(ErrorLog, ViewerOpensExistingLogsInTheEditor) {
  handler.Destination("/logs");
  handler.ShowErrorLog(1);
  handler.ShowErrorLog(2);
  ASSERT_EQ(services.messageBox.shown.size(), 2u);
  EXPECT_EQ(services.messageBox.shown[0].text, "Error Log not created");
  EXPECT_EQ(services.messageBox.shown[0].title, "Error Log");
  EXPECT_EQ(services.messageBox.shown[1].text, "Trace Log not created");
  EXPECT_EQ(services.messageBox.shown[1].title, "Trace Log");
  EXPECT_EQ(services.messageBox.shown[1].style, 0);

  handler.TraceExecution(true);
  handler.Push("P");
  handler.HandleError("x", 1);
  handler.ShowErrorLog(1);
  handler.ShowErrorLog(2);
  handler.ShowErrorLog(3);
  handler.ShowErrorLog(0);
  EXPECT_EQ(services.launcher.opened, (std::vector<std::string>{"/logs/Error.log", "/logs/Trace.log"}));
  EXPECT_EQ(services.messageBox.shown.size(), 2u);

  services.launcher.fail = true;
  EXPECT_EQ(failureNumber([&] { handler.ShowErrorLog(1); }), err::kFileNotFound);
}

TEST_F(ErrorLog, EmptyDestinationLooksAtTheRoot) {
  services.files.files["/Error.log"] = "x";
  handler.ShowErrorLog(1);
  EXPECT_EQ(services.launcher.opened, (std::vector<std::string>{"/Error.log"}));
}

}  // namespace
}  // namespace quenvar
