#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

// Records the events in order and plays the client's part inside them.
struct Sink : HandlerEvents {
  std::vector<std::string>* log;
  bool veto = false;
  std::function<void()> inBefore, inAfter;
  explicit Sink(std::vector<std::string>* l) : log(l) {}
  void BeforeHandlerCalled(bool& Cancel) override {
    log->push_back("before");
    if (inBefore) inBefore();
    if (veto) Cancel = true;
  }
  void AfterHandlerCalled() override {
    log->push_back("after");
    if (inAfter) inAfter();
  }
};

struct HandleErrorTest : HandlerFixture {
  std::vector<std::string> events;
  std::shared_ptr<Sink> sink = std::make_shared<Sink>(&events);
  HandleErrorTest() {
    handler.advise(sink);
    handler.Destination("/logs");
    services.os.eventPlatform = "WinNT";
    dialog.onShow = [this] { events.push_back("dialog"); };
  }
};

TEST_F(HandleErrorTest, ErrorNumberZeroOnlyStoresTheArguments) {
  handler.Push("Main");
  EXPECT_EQ(handler.HandleError("nothing", 0, 12, "note"), 0);
  EXPECT_EQ(handler.ErrLine(), "12");
  EXPECT_EQ(*handler.CustomErrMessage().string(), "note");
  EXPECT_EQ(handler.ErrDesc(), "nothing");
  EXPECT_EQ(handler.ProcName(), "");
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(handler.StackDepth(), 1);
  EXPECT_FALSE(services.files.fileExists("/logs/Error.log"));
}

TEST_F(HandleErrorTest, OverflowStopsBeforeTheLaterArguments) {
  EXPECT_EQ(handler.HandleError("first", 2.5), 0);
  EXPECT_EQ(handler.ErrNum(), 2);
  EXPECT_EQ(handler.HandleError("second", 3.5), 0);
  EXPECT_EQ(handler.ErrNum(), 4);

  EXPECT_EQ(handler.HandleError("too big", 1e10, 7, "custom"), err::kOverflow);
  EXPECT_EQ(handler.ErrLine(), "7");
  EXPECT_EQ(*handler.CustomErrMessage().string(), "custom");
  EXPECT_EQ(handler.ErrNum(), 4);
  EXPECT_EQ(handler.ErrDesc(), "second");

  EXPECT_EQ(handler.HandleError("long line", 5, 40000, "other"), err::kOverflow);
  EXPECT_EQ(*handler.CustomErrMessage().string(), "custom");
  EXPECT_EQ(handler.ErrDesc(), "second");
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after", "before", "after"}));
}

TEST_F(HandleErrorTest, FullRunOrderAndOutcome) {
  handler.UseInterface(true);
  handler.LogEvent(true);
  handler.Push("Main");
  handler.Push("Calc");
  sink->inBefore = [&] {
    EXPECT_EQ(handler.ProcName(), "Calc");
    EXPECT_EQ(handler.ErrNum(), 91);
    handler.CurrentOperation("set in the event");
  };
  EXPECT_EQ(handler.HandleError("Object variable not set", 91, 3), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"before", "dialog", "after"}));
  EXPECT_NE(handler.ErrorLogDisplay().find("Current Operation: set in the event"), std::string::npos);
  EXPECT_EQ(handler.StackDepth(), 0);
  EXPECT_EQ(names(handler.CallStack()), (std::vector<std::string>{""}));
  EXPECT_EQ(handler.Pop(), 0) << "the client's own Pop meets an empty stack";

  ASSERT_EQ(services.eventLog.records.size(), 1u);
  const EventRecord& e = services.eventLog.records[0];
  EXPECT_EQ(e.text, "Error from Quenvar\r" + handler.ErrorLogDisplay());
  EXPECT_EQ(e.source, "Quenvar");
  EXPECT_EQ(std::tie(e.type, e.category, e.id), std::make_tuple(uint16_t{1}, uint16_t{0}, uint32_t{1003}));
}

TEST_F(HandleErrorTest, DialogReceivesFifteenMembersInOrder) {
  handler.UseInterface(true);
  handler.ShowDBInfo(true);
  handler.AppObject(application());
  handler.TraceExecution(true);
  handler.HandleError("Overflow", 6);
  const char* order[] = {"m_dblErrNum", "m_strDestination", "m_strErrDetail", "m_bolTraceExecution",
                         "ShowAppInfo", "ShowDBInfo", "ShowSysInfo", "AppLog", "SysLog", "DbLog",
                         "m_strEmailAddress", "m_strSubject", "m_strEmailDetailAPI",
                         "m_strEmailDetailAPI2", "m_strToName"};
  const auto& d = dialog;
  ASSERT_EQ(d.assigned.size(), 15u);
  for (size_t i = 0; i < 15; ++i) EXPECT_EQ(d.assigned[i].first, order[i]);
  EXPECT_EQ(*d.value("m_dblErrNum")->doubleValue(), 6.0);
  EXPECT_EQ(*d.value("m_strErrDetail")->string(), handler.ErrorLogDisplay());
  EXPECT_EQ(*d.value("m_bolTraceExecution")->boolean(), true);
  EXPECT_EQ(*d.value("ShowDBInfo")->boolean(), true);
  EXPECT_EQ(*d.value("ShowAppInfo")->boolean(), false);
  EXPECT_EQ(*d.value("m_strSubject")->string(), "Ledger 2.0.15 Application Error");
  EXPECT_EQ(*d.value("DbLog")->string(), handler.DbLogDisplay());
  EXPECT_EQ(d.refreshes, 1);
  EXPECT_EQ(d.shows, 1);
}

TEST_F(HandleErrorTest, VetoKeepsTheOldReportButStillNotifiesAndUnwinds) {
  handler.LogEvent(true);
  handler.UseInterface(true);
  handler.HandleError("first", 1);
  const std::string firstReport = handler.ErrorLogDisplay();
  const std::string firstLog = services.files.files["/logs/Error.log"];

  sink->veto = true;
  handler.Push("Vetoed");
  events.clear();
  EXPECT_EQ(handler.HandleError("second", 2), 0);
  EXPECT_EQ(handler.ErrDesc(), "second");
  EXPECT_EQ(handler.ProcName(), "Vetoed");
  EXPECT_EQ(handler.ErrorLogDisplay(), firstReport);
  EXPECT_EQ(services.files.files["/logs/Error.log"], firstLog);
  EXPECT_EQ(services.eventLog.records.back().text, "Error from Quenvar\r" + firstReport);
  EXPECT_EQ(events, (std::vector<std::string>{"before", "dialog", "after"}));
  EXPECT_EQ(handler.StackDepth(), 0);
}

TEST_F(HandleErrorTest, FirstCallVetoedSendsAnEmptyReport) {
  handler.LogEvent(true);
  sink->veto = true;
  handler.HandleError("x", 1);
  EXPECT_EQ(services.eventLog.records.at(0).text, "Error from Quenvar\r");
}

TEST_F(HandleErrorTest, AfterAVetoFailuresStopTheMethod) {
  sink->veto = true;
  handler.UseInterface(true);
  dialog.failShow = true;
  handler.Push("Kept");
  EXPECT_EQ(handler.HandleError("x", 1), err::kInvalidCall);
  EXPECT_EQ(events, (std::vector<std::string>{"before"}));
  EXPECT_EQ(handler.StackDepth(), 1) << "no unwinding after a stopping failure";
}

TEST_F(HandleErrorTest, WithoutVetoFailuresOnlyDropTheirStep) {
  handler.UseInterface(true);
  dialog.failMembers = {"m_strErrDetail"};
  dialog.failShow = true;
  handler.Push("Unwound");
  EXPECT_EQ(handler.HandleError("x", 1), 0);
  EXPECT_EQ(dialog.assigned.size(), 14u);
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(handler.StackDepth(), 0);
}

TEST_F(HandleErrorTest, EventFailures) {
  struct Throwing : HandlerEvents {
    bool inBefore;
    explicit Throwing(bool b) : inBefore(b) {}
    void BeforeHandlerCalled(bool&) override {
      if (inBefore) throw AutomationError(1234, "client failed");
    }
    void AfterHandlerCalled() override {
      if (!inBefore) throw AutomationError(4321, "client failed");
    }
  };
  uint32_t cookie = handler.advise(std::make_shared<Throwing>(true));
  handler.Push("P");
  EXPECT_EQ(handler.HandleError("x", 1), 1234);
  EXPECT_EQ(handler.StackDepth(), 1);
  EXPECT_TRUE(handler.unadvise(cookie));
  EXPECT_FALSE(handler.unadvise(cookie));

  handler.advise(std::make_shared<Throwing>(false));
  EXPECT_EQ(handler.HandleError("x", 1), 0) << "the after-event fails as a skipped step";
  EXPECT_EQ(handler.StackDepth(), 0);
}

TEST_F(HandleErrorTest, EventLogOnlyOnTheEventLogPlatform) {
  handler.LogEvent(true);
  services.os.eventPlatform = "WinNT";
  services.os.versionRecord.platformId = 1;  // Win9x
  handler.HandleError("x", 1);
  EXPECT_TRUE(services.eventLog.records.empty());
  services.os.versionRecord.platformId = 2;
  services.os.eventPlatform = "winnt";
  handler.HandleError("x", 1);
  EXPECT_EQ(services.eventLog.records.size(), 1u) << "compared in upper case";

  services.eventLog.failWith = 1502;
  handler.HandleError("x", 1);
  ASSERT_EQ(services.messageBox.shown.size(), 1u);
  EXPECT_EQ(services.messageBox.shown[0].text, "1502");
  EXPECT_EQ(services.messageBox.shown[0].title, "Quenvar");
  EXPECT_EQ(services.messageBox.shown[0].style, 0);
}

TEST_F(HandleErrorTest, DestinationIsFilledAndKept) {
  clsErrHandler noApp(services.platform);
  services.files.folders.insert("/opt/quenvar");
  noApp.HandleError("x", 1);
  EXPECT_EQ(noApp.Destination(), "/opt/quenvar");
  EXPECT_TRUE(services.files.fileExists("/opt/quenvar/Error.log"));

  clsErrHandler pathless(services.platform);
  auto app = application();
  app->remove("Path");
  pathless.AppObject(app);
  pathless.HandleError("x", 1);
  EXPECT_EQ(pathless.Destination(), "");
  EXPECT_TRUE(services.files.fileExists("/Error.log")) << "the root, as an empty folder gives";
}

TEST_F(HandleErrorTest, DatabaseHeadingStaysOnceSeen) {
  Connection c;
  c.errors->push_back(driverError(5, "d", "s", "HY000", -2147217900));
  handler.Cn(c.cn);
  handler.HandleError("db", -2147217900);
  EXPECT_EQ(handler.ErrorType(), "1");
  handler.HandleError("app", 5);
  EXPECT_EQ(handler.ErrorType(), "1");
  EXPECT_TRUE(handler.ErrorLogDisplay().starts_with("Database Error Information\r\n"));
}

TEST_F(HandleErrorTest, ReentrantCallsAreRefusedAndLeaveTheOuterCallIntact) {
  handler.Push("Outer");
  int32_t inner = 0;
  sink->inBefore = [&] { inner = handler.HandleError("inner", 99); };
  sink->inAfter = [&] { EXPECT_EQ(handler.HandleError("inner", 98), err::kHandlerBusy); };
  EXPECT_EQ(handler.HandleError("outer", 5), 0);
  EXPECT_EQ(inner, err::kHandlerBusy);
  EXPECT_EQ(handler.ErrDesc(), "outer");
  EXPECT_NE(handler.ErrorLogDisplay().find("Error Procedure:\tOuter"), std::string::npos);
  EXPECT_EQ(handler.StackDepth(), 0);

  // Once the outer call is over the handler takes errors again.
  sink->inBefore = nullptr;
  sink->inAfter = nullptr;
  EXPECT_EQ(handler.HandleError("next", 6), 0);
  EXPECT_EQ(handler.ErrNum(), 6);
}

TEST_F(HandleErrorTest, StackMayChangeInsideTheEvents) {
  handler.Push("A");
  sink->inBefore = [&] {
    handler.Push("PushedInEvent");
    handler.AddParam("k", "Long", Variant(int32_t{1}));
  };
  sink->inAfter = [&] { handler.Pop(); };
  EXPECT_EQ(handler.HandleError("x", 1), 0);
  EXPECT_NE(handler.ErrorLogDisplay().find("02    PushedInEvent\r\n"), std::string::npos);
  EXPECT_EQ(handler.StackDepth(), 0);
}

}  // namespace
}  // namespace quenvar
