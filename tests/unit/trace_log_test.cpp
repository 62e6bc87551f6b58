#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;
using TraceLog = HandlerFixture;

TEST_F(TraceLog, OneLinePerPushNothingForPop) {
  handler.Destination("/logs");
  handler.TraceExecution(true);
  EXPECT_EQ(handler.Push("A"), 0);
  EXPECT_EQ(handler.Push("B"), 0);
  handler.Pop();
  EXPECT_EQ(handler.Push("C"), 0);
  EXPECT_EQ(handler.Push(""), 0);
  EXPECT_EQ(services.files.files["/logs/Trace.log"], "A\r\nB\r\nC\r\n\r\n");
  EXPECT_EQ(services.files.openHandles, 0);
}

TEST_F(TraceLog, SwitchingOnStartsAnEmptyLogOffKeepsIt) {
  handler.Destination("/logs");
  handler.TraceExecution(true);
  handler.Push("Before");
  handler.TraceExecution(false);
  handler.Push("Untraced");
  EXPECT_EQ(services.files.files["/logs/Trace.log"], "Before\r\n");
  handler.TraceExecution(true);
  handler.Push("After");
  EXPECT_EQ(services.files.files["/logs/Trace.log"], "After\r\n");
}

TEST_F(TraceLog, EmptyDestinationIsFilledFromTheApplicationOrTheModule) {
  handler.TraceExecution(true);
  EXPECT_EQ(handler.Destination(), "/opt/quenvar");

  clsErrHandler withApp(services.platform);
  auto app = application();
  app->set("Path", "/");
  withApp.AppObject(app);
  withApp.TraceExecution(true);
  EXPECT_EQ(withApp.Destination(), "/") << "stored as read: no separator dropped";
  withApp.Push("Root");
  EXPECT_EQ(services.files.files["//Trace.log"], "Root\r\n");

  clsErrHandler pathless(services.platform);
  auto noPath = application();
  noPath->remove("Path");
  pathless.AppObject(noPath);
  pathless.TraceExecution(true);  // never fails towards the caller
  EXPECT_EQ(pathless.Destination(), "");
  EXPECT_NE(pathless.Push("X"), 0) << "the trace file was never fixed";
  EXPECT_EQ(pathless.StackDepth(), 1);
}

TEST_F(TraceLog, LaterDestinationMovesOnlyTheReaders) {
  handler.Destination("/logs");
  handler.TraceExecution(true);
  services.files.folders.insert("/other");
  handler.Destination("/other");
  handler.Push("Still");
  EXPECT_EQ(services.files.files["/logs/Trace.log"], "Still\r\n");
  handler.ShowErrorLog(2);
  ASSERT_EQ(services.messageBox.shown.size(), 1u);
  EXPECT_EQ(services.messageBox.shown[0].text, "Trace Log not created");
}

TEST_F(TraceLog, FailedWritesReportButKeepTheEntry) {
  handler.Destination("/logs");
  handler.TraceExecution(true);
  services.files.folders.erase("/logs");
  EXPECT_EQ(handler.Push("NoFolder"), err::kPathFileAccess);
  EXPECT_EQ(handler.StackDepth(), 1);

  services.files.folders.insert("/logs");
  services.files.failWrite.insert("/logs/Trace.log");
  EXPECT_EQ(handler.Push("Locked"), err::kPathFileAccess);
  EXPECT_EQ(handler.StackDepth(), 2);
  EXPECT_EQ(services.files.openHandles, 0) << "a failed write leaves no file open";
  services.files.failWrite.clear();
  EXPECT_EQ(handler.Push("Recovered"), 0);
  EXPECT_EQ(services.files.files["/logs/Trace.log"], "Recovered\r\n");
}

}  // namespace
}  // namespace quenvar
