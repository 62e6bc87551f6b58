// HandleError and traced Push with each platform call failing in turn, over real files.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/thread_state.h"
#include "dialogs/thread_dialogs.h"
#include "handler/procedures.h"
#include "mail/mail_settings.h"
#include "dialogs/error_dialog.h"
#include "faults/fault_sweep.h"
#include "faults/temp_folder.h"
#include "fakes/fake_platform.h"
#include "quenvar/err_handler.h"
#include "platform/posix/file_system_posix.h"

namespace quenvar::faults {
namespace {

struct Sink : HandlerEvents {
  bool veto = false;
  std::vector<std::string> log;
  void BeforeHandlerCalled(bool& Cancel) override {
    log.push_back("before");
    Cancel = veto;
  }
  void AfterHandlerCalled() override { log.push_back("after"); }
};

// A handler over fakes, its files real ones in a folder of its own.
struct Scene {
  TempFolder folder;
  PosixFileSystem files;
  fake::Services fakes;
  FaultyPlatform faulty;
  clsErrHandler handler{faulty.platform};
  std::shared_ptr<Sink> sink = std::make_shared<Sink>();

  explicit Scene(FaultPlan& plan) : faulty(withRealFiles(), plan) {
    handler.Destination(folder.path);
    handler.advise(sink);
  }
  Platform& withRealFiles() {
    fakes.platform.files = &files;
    return fakes.platform;
  }
  // The thread's error dialog, once a handler has made it.
  ErrorDialog* dialog() const { return dynamic_cast<ErrorDialog*>(threadState().part<ThreadDialogs>().errorDialog.get()); }
};

struct Case {
  bool veto, dialog, eventLog;
};

void handleErrorUnderFaults(const Case& c, const Sweep& how) {
  SCOPED_TRACE(std::string(c.veto ? "vetoed" : "reported") + (c.dialog ? ", dialog" : "") + (c.eventLog ? ", event log" : ""));
  const int faulted = sweep(how, [&](FaultPlan& plan) {
    Scene s(plan);
    s.folder.write("Error.log", "old\r\n");
    s.handler.UseInterface(c.dialog);
    s.handler.LogEvent(c.eventLog);
    s.fakes.windows.users["Application Error"] = [](Form& f) {
      f.onClick("cmdErrorLog");
      f.onClick("cmdClose");
    };
    s.handler.Push("Main");
    s.handler.Push("Load");
    s.handler.AddParam("id", "Long", Variant(int32_t{7}));
    s.sink->veto = c.veto;

    plan.arm();
    const int32_t status = s.handler.HandleError("disk full", 1234, 20);
    plan.disarm();
    SCOPED_TRACE(plan.record());

    // Only a failing show, after a veto, stops the method; then nothing after it happens. A
    // report that could not be written whole is the status of a method that went on.
    const bool stopped = c.veto && c.dialog && plan.injectedInto("Windows.showModal");
    const bool unwritten = plan.injectedInto("Files.write") || plan.injectedInto("Files.close");
    EXPECT_EQ(status, stopped ? err::kInvalidCall : unwritten ? err::kPathFileAccess : 0);
    EXPECT_EQ(s.handler.StackDepth(), stopped ? 2 : 0);
    EXPECT_EQ(s.sink->log, (stopped ? std::vector<std::string>{"before"} : std::vector<std::string>{"before", "after"}));

    // Error.log holds the old report or this one whole: never nothing, never a mixture.
    const std::string log = s.folder.read("Error.log");
    if (c.veto || plan.injectedInto("Files.open") || unwritten) EXPECT_EQ(log, "old\r\n");
    else EXPECT_EQ(log, s.handler.ErrorLogDisplay() + "\r\n");

    const auto& records = s.fakes.eventLog.records;
    if (!c.eventLog) {
      EXPECT_TRUE(records.empty());
    }
    EXPECT_LE(records.size(), 1u);
    for (const EventRecord& r : records) EXPECT_EQ(r.text, "Error from Quenvar\r" + s.handler.ErrorLogDisplay());
    if (c.eventLog && !plan.hit()) {
      EXPECT_EQ(records.size(), 1u);
    }
    if (c.eventLog && plan.injectedInto("EventLog.report") && !plan.injectedInto(Service::MessageBox)) {
      EXPECT_TRUE(records.empty());
      ASSERT_FALSE(s.fakes.messageBox.shown.empty());
      EXPECT_EQ(s.fakes.messageBox.shown[0].text, "1502") << "a refused entry is reported by its code";
    }

    if (c.dialog && !plan.injectedInto("Windows.showModal")) {
      ASSERT_NE(s.dialog(), nullptr);
      EXPECT_EQ(s.dialog()->m_strErrDetail, s.handler.ErrorLogDisplay());
      EXPECT_FALSE(s.dialog()->loaded);
    }

    // Once the platform works again, the next error goes out whole through every outlet.
    s.sink->veto = false;
    s.fakes.eventLog.records.clear();
    s.handler.Push("Retry");
    EXPECT_EQ(s.handler.HandleError("second", 4321), 0);
    EXPECT_EQ(s.handler.StackDepth(), 0);
    EXPECT_NE(s.handler.ErrorLogDisplay().find("Error Number:\t4321"), std::string::npos);
    EXPECT_EQ(s.folder.read("Error.log"), s.handler.ErrorLogDisplay() + "\r\n");
    EXPECT_EQ(s.fakes.eventLog.records.size(), c.eventLog ? 1u : 0u);
    if (c.dialog) {
      ASSERT_NE(s.dialog(), nullptr);
      EXPECT_EQ(s.dialog()->control("lblErrNum").caption, "Error Number: 4321");
      EXPECT_EQ(s.dialog()->control("txtOutput").caption, s.handler.ErrorLogDisplay());
    }
  });
  // A vetoed error with neither dialog nor event log touches no platform service at all.
  EXPECT_EQ(faulted > 0, !c.veto || c.dialog || c.eventLog);
}

TEST(HandleErrorFaults, ReportedErrorsUnwindAndTellOnlyAnUnwrittenLog) {
  for (bool dialog : {false, true})
    for (bool eventLog : {false, true})
      for (bool sticky : {false, true}) handleErrorUnderFaults({false, dialog, eventLog}, {sticky});
}

TEST(HandleErrorFaults, VetoedErrorsStopOnlyWhereTheDialogFails) {
  for (bool dialog : {false, true})
    for (bool eventLog : {false, true})
      for (bool sticky : {false, true}) handleErrorUnderFaults({true, dialog, eventLog}, {sticky});
}

TEST(TraceFaults, EveryPushStaysPushedAndLogsAtMostItsOwnLine) {
  for (bool sticky : {false, true}) {
    const int faulted = sweep({sticky}, [&](FaultPlan& plan) {
      Scene s(plan);
      s.folder.write("Trace.log", "stale\r\n");
      plan.arm();
      s.handler.TraceExecution(true);
      const bool staleKept = plan.hit();
      std::string expected = staleKept ? "stale\r\n" : "";
      std::vector<int32_t> statuses;
      auto push = [&](const char* name) {
        const size_t before = plan.injected().size();
        statuses.push_back(s.handler.Push(name));
        const bool failed = plan.injected().size() != before;
        EXPECT_EQ(statuses.back(), failed ? err::kPathFileAccess : 0) << name;
        // A close that fails comes after the line went out.
        if (!failed || plan.injected().back() == "Files.close") expected += std::string(name) + "\r\n";
      };
      push("A");
      push("B");
      push("C");
      EXPECT_EQ(s.handler.Pop(), 0);
      push("D");
      plan.disarm();
      SCOPED_TRACE(plan.record());
      EXPECT_EQ(s.handler.StackDepth(), 3);
      std::vector<std::string> stack;
      for (const Variant& v : s.handler.CallStack().items) stack.push_back(*v.string());
      EXPECT_EQ(stack, (std::vector<std::string>{"", "A", "B", "D"}));
      EXPECT_EQ(s.folder.read("Trace.log"), expected);

      EXPECT_EQ(s.handler.Push("E"), 0) << "the next Push tries again";
      EXPECT_EQ(s.folder.read("Trace.log"), expected + "E\r\n");
    });
    EXPECT_GT(faulted, 0);
  }
}

}  // namespace
}  // namespace quenvar::faults
