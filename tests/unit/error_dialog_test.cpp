#include "dialogs/error_dialog.h"

#include <gtest/gtest.h>

#include "core/thread_state.h"
#include "test_support.h"

namespace quenvar {
namespace {

using test::failureNumber;

struct ErrorDialogTest : ::testing::Test {
  fake::Services services;
  ThreadState mail;
  ErrorDialog dialog{services.platform, mail};

  ErrorDialogTest() {
    dialog.m_strErrDetail = "detail", dialog.AppLog = "app", dialog.SysLog = "sys", dialog.DbLog = "db";
    dialog.m_strDestination = "/logs";
  }
  ~ErrorDialogTest() override { threadState().part<ThreadDialogs>().emailSettings.reset(); }
  Control& c(const char* name) { return dialog.control(name); }
  std::string heading() { return c("lblTabHeading").caption; }
  std::string pane() { return c("txtOutput").caption; }
  std::vector<Twips> placesOf(std::initializer_list<const char*> names) {
    std::vector<Twips> out;
    for (const char* n : names) out.push_back(c(n).rect);
    return out;
  }
};

TEST_F(ErrorDialogTest, LoadOpensOnErrorInformationWithButtonsAsTheInputsSay) {
  dialog.m_dblErrNum = 2.5;
  dialog.ShowSysInfo = true;
  services.pointer.set(MousePointer::kBusy);
  dialog.refresh();
  EXPECT_TRUE(dialog.loaded);
  EXPECT_EQ(c("lblErrNum").caption, "Error Number: 2.5");
  EXPECT_FALSE(c("cmdTraceLog").enabled);
  EXPECT_TRUE(c("cmdTraceLog").visible);
  EXPECT_TRUE(c("cmdEmlSet").visible) << "never written counts as True";
  EXPECT_TRUE(c("cmdErrorInfo").visible);
  EXPECT_FALSE(c("cmdAppInfo").visible);
  EXPECT_TRUE(c("cmdSystemInfo").visible);
  EXPECT_FALSE(c("cmdDatabaseInfo").visible);
  EXPECT_EQ(heading(), "Error Information");
  EXPECT_EQ(pane(), "detail");
  EXPECT_EQ(services.pointer.value(), MousePointer::kDefault);
}

TEST_F(ErrorDialogTest, LoadFollowsTheStoredEmailSettingsAndStopsSilentlyOnBadText) {
  services.settings.setMail("EmailSettings", "False");
  dialog.m_bolTraceExecution = true;
  dialog.refresh();
  EXPECT_FALSE(c("cmdEmlSet").visible);
  EXPECT_TRUE(c("cmdTraceLog").enabled);
  dialog.onClose();

  services.settings.setMail("EmailSettings", "maybe");
  services.pointer.set(MousePointer::kBusy);
  dialog.refresh();
  EXPECT_TRUE(dialog.loaded) << "the dialog still shows";
  EXPECT_TRUE(c("cmdEmlSet").visible) << "back to its design on reloading";
  EXPECT_TRUE(c("cmdAppInfo").visible) << "the rest of the step was skipped";
  EXPECT_EQ(c("lblErrNum").caption, "Error Number: 0");
  EXPECT_EQ(heading(), "");
  EXPECT_EQ(pane(), "");
  EXPECT_EQ(services.pointer.value(), MousePointer::kBusy);
  EXPECT_TRUE(services.messageBox.shown.empty());
}

TEST_F(ErrorDialogTest, SectionButtonsSwitchHeadingAndPane) {
  dialog.ShowAppInfo = dialog.ShowSysInfo = dialog.ShowDBInfo = true;
  dialog.SysLog = "";
  dialog.refresh();
  const std::tuple<const char*, const char*, std::string> sections[] = {
      {"cmdAppInfo", "App. Information", "app"},
      {"cmdSystemInfo", "System Information", ""},
      {"cmdDatabaseInfo", "Database Information", "db"},
      {"cmdErrorInfo", "Error Information", "detail"}};
  for (const auto& [button, title, text] : sections) {
    dialog.onClick(button);
    EXPECT_EQ(heading(), title);
    EXPECT_EQ(pane(), text);
    EXPECT_EQ(c(button).backColor, kColourButtonFace) << "the pressed button is not marked";
  }
}

TEST_F(ErrorDialogTest, HiddenSectionButtonsLeaveTheirSlotsEmpty) {
  const std::initializer_list<const char*> column{"cmdErrorInfo", "cmdAppInfo", "cmdSystemInfo", "cmdDatabaseInfo"};
  const std::vector<Twips> designed = placesOf(column);
  dialog.refresh();
  dialog.onResize(12000, 9000);
  EXPECT_FALSE(c("cmdAppInfo").visible);
  EXPECT_EQ(placesOf(column), designed);
}

TEST_F(ErrorDialogTest, ActivationPutsTheSectionsWantedOnTheClipboardInFixedOrder) {
  for (int flags = 0; flags < 8; ++flags) {
    dialog.ShowAppInfo = flags & 1, dialog.ShowSysInfo = flags & 2, dialog.ShowDBInfo = flags & 4;
    dialog.onActivate();
    dialog.onActivate();
    std::string expected = "detail";
    for (const auto& [wanted, text] : {std::pair{dialog.ShowAppInfo, "app"}, {dialog.ShowSysInfo, "sys"},
                                       {dialog.ShowDBInfo, "db"}})
      if (wanted) expected += std::string("\r\n\r\n") + text;
    EXPECT_EQ(services.clipboard.text, expected) << flags;
    EXPECT_EQ(dialog.fullReport(), expected);
  }
}

TEST_F(ErrorDialogTest, ClipboardThatCannotBeOpenedChangesNothing) {
  dialog.refresh();
  services.clipboard.fail = true;
  EXPECT_NO_THROW(dialog.onActivate());
  EXPECT_EQ(services.clipboard.text, "(earlier content)");
  EXPECT_TRUE(services.messageBox.shown.empty());
  EXPECT_EQ(pane(), "detail");
}

TEST_F(ErrorDialogTest, TypingInThePaneIsDiscarded) {
  dialog.refresh();
  int down = 65, press = 'a', up = 65;
  dialog.onKeyDown("txtOutput", down);
  dialog.onKeyPress("txtOutput", press);
  dialog.onKeyUp("txtOutput", up);
  EXPECT_EQ(down + press + up, 0);
  EXPECT_EQ(pane(), "detail");
  int elsewhere = 13;
  dialog.onKeyDown("cmdClose", elsewhere);
  EXPECT_EQ(elsewhere, 13);
}

TEST_F(ErrorDialogTest, LogButtonsOpenTheLogsAndSayWhenTheEditorWillNotStart) {
  dialog.onClick("cmdErrorLog");
  dialog.onClick("cmdTraceLog");
  dialog.m_strDestination = "";
  dialog.onClick("cmdErrorLog");
  EXPECT_EQ(services.launcher.opened, (std::vector<std::string>{"/logs/Error.log", "/logs/Trace.log", "/Error.log"}));
  EXPECT_TRUE(services.messageBox.shown.empty());
  services.launcher.fail = true;
  dialog.onClick("cmdTraceLog");
  ASSERT_EQ(services.messageBox.shown.size(), 1u);
  EXPECT_NE(services.messageBox.shown[0].text.find("/Trace.log"), std::string::npos);
  EXPECT_NE(services.messageBox.shown[0].text.find("editor"), std::string::npos);
}

TEST_F(ErrorDialogTest, ReturningFromTheSettingsDialogReplacesTheClipboard) {
  services.windows.queue.push_back([](Form& d) { d.onClick("cmdEmlSet"); });
  services.windows.queue.push_back([this](Form& d) {
    services.clipboard.text = "copied meanwhile";
    d.onClick("cmdCancel");
  });
  dialog.refresh();
  dialog.showModal();
  EXPECT_EQ(services.windows.shown, (std::vector<std::string>{"Application Error", "Email"}));
  EXPECT_EQ(services.clipboard.text, "detail");
  EXPECT_FALSE(dialog.loaded) << "closed by its close box";
  EXPECT_EQ(services.settings.mail("EmailFlag"), "False");
}

TEST_F(ErrorDialogTest, EmailButtonMailsTheReportOverItsOwnKeptSocket) {
  services.settings.setMail("EmailSettings", "False");
  services.settings.setMail("EmailType", "1");
  dialog.m_strEmailAddress = "ops@example.com";
  dialog.m_strSubject = "Err";
  dialog.refresh();
  dialog.onActivate();
  services.pointer.history.clear();
  EXPECT_EQ(services.network.opened, 0);
  dialog.onClick("cmdEmail");
  dialog.onClick("cmdEmail");
  EXPECT_EQ(services.network.opened, 1);
  ASSERT_EQ(services.shell.calls.size(), 2u);
  EXPECT_EQ(services.shell.calls[0].file, dialog.m_strEmailDetailAPI);
  EXPECT_EQ(dialog.m_strEmailDetailAPI.rfind("mailto:ops@example.com", 0), 0u);
  EXPECT_EQ(services.windows.shows("Email"), 0) << "settings locked";
  const std::pair<std::string, int> busy{dialog.caption, MousePointer::kBusy}, idle{dialog.caption, 0};
  EXPECT_EQ(services.windows.pointers, (std::vector{busy, idle, busy, idle})) << "the dialog's own pointer";
  EXPECT_TRUE(services.pointer.history.empty()) << "not the screen-wide one";
}

TEST_F(ErrorDialogTest, UnloadingClosesAConnectionASessionLeftOpen) {
  services.settings.setMail("EmailSettings", "False");
  services.settings.setMail("EmailType", "2");
  services.network.server.script["HELO"] = {"550 go away\r\n"};
  mail.part<MailValues>() = {.mailServer = "mail.example.com", .fromName = "Orders", .fromEmail = "o@example.com"};
  dialog.m_strEmailAddress = "ops@example.com";
  dialog.refresh();
  dialog.onClick("cmdEmail");
  const auto& log = services.network.server.log;
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back(), "close") << "a session that gave up leaves its connection";
  dialog.onClick("cmdClose");
  EXPECT_EQ(log.back(), "close");
}

TEST_F(ErrorDialogTest, CloseUnloadsAndKeepsTheMembersForTheNextError) {
  dialog.refresh();
  dialog.onClick("cmdAppInfo");
  dialog.onClick("cmdClose");
  EXPECT_FALSE(dialog.loaded);
  EXPECT_EQ(dialog.m_strErrDetail, "detail");
  dialog.m_strErrDetail = "next";
  dialog.refresh();
  EXPECT_EQ(pane(), "next");
  dialog.onResize(3000, 3000);
  dialog.onClose();
  dialog.refresh();
  EXPECT_EQ(c("txtOutput").rect, (Twips{2040, 1140, 7725, 5190})) << "a reload starts from the design";
}

// The handler hands its report to the thread's real dialog when nothing was seeded there.
struct HandleErrorThroughTheDialog : test::HandlerFixture {
  HandleErrorThroughTheDialog() { threadState().part<ThreadDialogs>().errorDialog.reset(); }
};

struct AfterSink : HandlerEvents {
  int after = 0;
  void BeforeHandlerCalled(bool&) override {}
  void AfterHandlerCalled() override { ++after; }
};

TEST_F(HandleErrorThroughTheDialog, ShowsTheReportSectionsThenNotifies) {
  auto sink = std::make_shared<AfterSink>();
  handler.advise(sink);
  handler.Destination("/logs");
  handler.UseInterface(true);
  handler.ShowSysInfo(true);
  handler.ShowAppInfo(false);
  std::vector<std::pair<std::string, std::string>> seen;
  std::vector<bool> column;
  services.windows.users["Application Error"] = [&](Form& d) {
    seen.emplace_back(d.control("lblTabHeading").caption, d.control("txtOutput").caption);
    d.onClick("cmdSystemInfo");
    seen.emplace_back(d.control("lblTabHeading").caption, d.control("txtOutput").caption);
    for (const char* b : {"cmdErrorInfo", "cmdAppInfo", "cmdSystemInfo", "cmdDatabaseInfo"})
      column.push_back(d.control(b).visible);
    EXPECT_EQ(d.control("lblErrNum").caption, "Error Number: 11");
    EXPECT_EQ(d.control("lblErrNum").rect, (Twips{50, 50, 9775, 420})) << "laid out as shown";
    d.onClick("cmdClose");
  };
  EXPECT_EQ(handler.HandleError("Division by zero", 11), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::pair<std::string, std::string>{"Error Information", handler.ErrorLogDisplay()}));
  EXPECT_EQ(seen[1], (std::pair<std::string, std::string>{"System Information", handler.SysLogDisplay()}));
  EXPECT_EQ(column, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(services.clipboard.text, handler.ErrorLogDisplay() + "\r\n\r\n" + handler.SysLogDisplay());
  EXPECT_EQ(sink->after, 1);
  EXPECT_EQ(services.windows.shows("Application Error"), 1);
}

}  // namespace
}  // namespace quenvar
