#include "mail/mail_dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "quenvar/dynamic_object.h"
#include "core/thread_state.h"
#include "dialogs/email_settings.h"
#include "mail/smtp_transport.h"
#include "test_support.h"

namespace quenvar {
namespace {

struct Shown {
  std::string text, title;
  int style;
  bool operator==(const Shown&) const = default;
};
const Shown kOutlookSent{"Composed Error Email in MS Outlook.", "Operation Successful", 0};
const Shown kOutlookFailed{"Error occurred while attempting to compose Error email in MS Outlook", "Operation Failed",
                           16};
const Shown kClientOpened{"Composed Error Email in Default Mail Client.", "Operation Successful", 0};
const Shown kClientFailed{"Error occurred while attempting to email error", "Operation Failed", 16};

struct MailDispatchTest : ::testing::Test {
  fake::Services services;
  ThreadState& mail = threadState();
  clsErrHandler handler{services.platform};
  std::vector<std::string> outlookLog;

  MailDispatchTest() {
    mail.reset();
    handler.EmailAddress("ops@example.com");
    handler.ToName("Ops");
  }
  ~MailDispatchTest() override { mail.reset(); }
  void set(const std::string& key, const std::string& value) { services.settings.setMail(key, value); }
  std::optional<std::string> key(const std::string& k) const { return services.settings.mail(k); }
  std::vector<Shown> shown() const {
    std::vector<Shown> out;
    for (const auto& s : services.messageBox.shown) out.push_back({s.text, s.title, s.style});
    return out;
  }
  // Unlocked, no settings dialog: straight to the stored route.
  void quietRoute(const std::string& route) {
    set("ShowEmlScre", "1");
    set("EmailType", route);
  }
  // An Outlook stand-in recording what the route does with it.
  void installOutlook() {
    services.mailClient.make = [this] {
      auto recipients = std::make_shared<DynamicObject>();
      recipients->on("Add", [this](std::span<const Variant> a) {
        outlookLog.push_back("Add " + *a[0].string());
        return Variant();
      });
      auto item = std::make_shared<DynamicObject>();
      item->set("Recipients", Variant(ObjectRef(recipients))).set("Body", "").set("Subject", "");
      item->on("Send", [this, item = item.get()](std::span<const Variant>) {
        outlookLog.push_back("Send " + *item->invoke("Subject", {}).string() + " / " +
                             *item->invoke("Body", {}).string());
        return Variant();
      });
      auto app = std::make_shared<DynamicObject>();
      app->on("CreateItem", [this, item](std::span<const Variant> a) {
        outlookLog.push_back("CreateItem " + std::to_string(*a[0].integer()));
        return Variant(ObjectRef(item));
      });
      return ObjectRef(app);
    };
  }
};

TEST_F(MailDispatchTest, OutlookRouteSendsOneItem) {
  installOutlook();
  quietRoute("0");
  handler.TransmitMail("the report");
  EXPECT_EQ(outlookLog, (std::vector<std::string>{"CreateItem 0", "Add ops@example.com", "Send  / the report"}));
  EXPECT_EQ(shown(), std::vector<Shown>{kOutlookSent});
  EXPECT_EQ(services.clipboard.text, "the report");
  EXPECT_EQ(services.pointer.history, (std::vector<int>{11, 0}));
  EXPECT_EQ(key("EmailFlag"), "True");
}

TEST_F(MailDispatchTest, OutlookMissingIsOperationFailed) {
  quietRoute("0");
  handler.TransmitMail("r");
  EXPECT_EQ(shown(), std::vector<Shown>{kOutlookFailed});
  EXPECT_EQ(SendOutlookEmail(services.mailClient, "a", "s", "b"), 429);
  installOutlook();
  EXPECT_EQ(SendOutlookEmail(services.mailClient, "a", "s", "b"), 0);
}

TEST_F(MailDispatchTest, DefaultClientGetsAnEncodedLink) {
  quietRoute("1");
  services.shell.answers = {33};
  handler.EmailAddress("o'brien@example.com");
  handler.TransmitMail("r");
  ASSERT_EQ(services.shell.calls.size(), 1u) << "33 is success";
  EXPECT_EQ(services.shell.calls[0].file, "mailto:o%27brien@example.com?Subject=");
  EXPECT_EQ(services.shell.calls[0].parameters, "");
  EXPECT_EQ(services.shell.calls[0].folder, "/opt/quenvar");
  EXPECT_EQ(shown(), std::vector<Shown>{kClientOpened});
  EXPECT_EQ(mailtoLink("ops@example.com", "Error 5 & more #2? yes/ü"),
            "mailto:ops@example.com?Subject=Error%205%20%26%20more%20%232%3F%20yes%2F%C3%BC");
  EXPECT_EQ(mailtoLink("", "S"), "mailto:?Subject=S");
}

TEST_F(MailDispatchTest, LongLinkIsRetriedAt400Characters) {
  services.shell.answers = {5, 42};
  const std::string link = "mailto:a@b?Subject=" + std::string(500, 'x');
  EXPECT_EQ(OpenMailto(services.shell, "/f", link, "p"), 0);
  ASSERT_EQ(services.shell.calls.size(), 2u);
  EXPECT_EQ(services.shell.calls[1].file, link.substr(0, 400));
  services.shell.answers = {5, 33};
  EXPECT_EQ(OpenMailto(services.shell, "/f", link, "p"), 0);
  services.shell.answers = {5, 31};
  EXPECT_EQ(OpenMailto(services.shell, "/f", link, "p"), 31);
  // A cut never leaves half an escape behind.
  services.shell.answers = {5, 32};
  EXPECT_EQ(OpenMailto(services.shell, "/f", std::string(399, 'x') + "%20", ""), 32);
  EXPECT_EQ(services.shell.calls.back().file, std::string(399, 'x'));
}

TEST_F(MailDispatchTest, LauncherRefusingTwiceIsOperationFailed) {
  quietRoute("1");
  services.shell.answers = {32, 2};
  handler.TransmitMail("r");
  EXPECT_EQ(shown(), std::vector<Shown>{kClientFailed});
}

TEST_F(MailDispatchTest, SmtpRouteRunsASessionWithTheThreadsValues) {
  quietRoute("2");
  handler.SMTPMailServer("mail.example.com");
  handler.FromName("Orders");
  handler.FromEmailAddress("orders@example.com");
  handler.TransmitMail("body");
  auto& log = services.network.server.log;
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "connect mail.example.com:25");
  EXPECT_EQ(log[3], "RCPT TO:<ops@example.com>\r\n");
  EXPECT_EQ(shown(), (std::vector<Shown>{{"Composed Error Email in SMTP.", "Operation Successful", 0}}));
  EXPECT_EQ(services.network.opened, 1);
  EXPECT_EQ(services.network.discarded, 1) << "the connection goes with the operation";
}

TEST_F(MailDispatchTest, EachOwnerKeepsItsOwnUnmatchedReply) {
  // A session that gives up leaves the reply it could not match; it must not answer the first
  // wait of another owner's session against a server that never greets.
  quietRoute("2");
  handler.SMTPMailServer("mail.example.com");
  handler.FromName("Orders");
  handler.FromEmailAddress("orders@example.com");
  auto& server = services.network.server;
  server.script["HELO"] = {"220 odd\r\n"};
  fake::MousePointer dialogPointer;
  std::string detail, detail2, dialogReply;
  ErrorDialogMail dialog{false, dialogPointer, server, dialogReply, detail, detail2};
  MailDispatch(services.platform, mail.part<MailValues>(), [] {}).EmailError({"ops@example.com", "Ops", "s", "b"}, dialog);
  EXPECT_EQ(dialogReply, "220 odd\r\n");

  server.script["connect"] = {};
  handler.TransmitMail("body");
  const auto& log = server.log;
  const auto second = std::find(log.rbegin(), log.rend(), "connect mail.example.com:25");
  ASSERT_NE(second, log.rend());
  EXPECT_EQ(std::find_if(log.rbegin(), second, [](const std::string& l) { return l.rfind("HELO", 0) == 0; }), second)
      << "nothing may be sent to a server that has not greeted";
  EXPECT_EQ(shown().back().text, "SMTP Service error, Timed out while waiting for response");
  EXPECT_EQ(dialogReply, "220 odd\r\n") << "the handler's session never touches the dialog's reply";
}

TEST_F(MailDispatchTest, TheSmtpRouteTakesTheUsersTransport) {
  quietRoute("2");
  handler.SMTPMailServer("mail.example.com");
  handler.FromName("Orders");
  handler.FromEmailAddress("orders@example.com");
  SmtpTransportSettings transport(services.settings, services.secrets);
  transport.SMTPPort(465);
  transport.SMTPSecurity(2);
  transport.SMTPUserName("ops");
  transport.SMTPPassword("s3cret");
  auto& server = services.network.server;
  server.script["EHLO"] = {"250-mta\r\n250 AUTH PLAIN\r\n"};
  server.script["AUTH"] = {"235 ok\r\n"};
  handler.TransmitMail("body");
  const std::vector<std::string> start(server.log.begin(), server.log.begin() + 3);
  EXPECT_EQ(start, (std::vector<std::string>{"connect mail.example.com:465", "tls mail.example.com ", "EHLO build7\r\n"}));
  EXPECT_EQ(shown().back().text, "Composed Error Email in SMTP.");
  services.settings.setMail("SMTPPort", "smtp");
  handler.TransmitMail("body");
  EXPECT_EQ(shown().size(), 1u) << "a stored port that is no number ends the operation silently";
}

TEST_F(MailDispatchTest, EmailFlagFalseStopsButOtherCasesGo) {
  installOutlook();
  set("EmailSettings", "False");
  set("EmailFlag", "False");
  handler.TransmitMail("r");
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(services.clipboard.text, "r") << "the clipboard is replaced all the same";
  EXPECT_EQ(services.pointer.history, std::vector<int>{0});
  for (const char* flag : {"false", "FALSE"}) {
    set("EmailFlag", flag);
    handler.TransmitMail("r");
  }
  EXPECT_EQ(shown(), (std::vector<Shown>{kOutlookSent, kOutlookSent}));
}

TEST_F(MailDispatchTest, LockedNeverWrittenGoesByOutlook) {
  installOutlook();
  set("EmailSettings", "0");
  handler.TransmitMail("r");
  EXPECT_EQ(services.windows.shows("Email"), 0);
  EXPECT_EQ(shown(), std::vector<Shown>{kOutlookSent});
  EXPECT_FALSE(key("EmailFlag"));
}

TEST_F(MailDispatchTest, ShowEmlScreSkipsTheDialogAndOverridesFalse) {
  installOutlook();
  set("EmailFlag", "False");
  quietRoute("0");
  handler.TransmitMail("r");
  EXPECT_EQ(services.windows.shows("Email"), 0);
  EXPECT_EQ(key("EmailFlag"), "True");
  EXPECT_EQ(shown(), std::vector<Shown>{kOutlookSent});
}

TEST_F(MailDispatchTest, UnlockedShowsTheDialogAndFollowsItsAnswer) {
  // "EmailSettings" never written: unlocked, as the property reads it.
  services.windows.users["Email"] = [](Form& d) { d.onClick("cmdCancel"); };
  handler.TransmitMail("r");
  EXPECT_EQ(services.windows.shows("Email"), 1);
  EXPECT_TRUE(shown().empty());
  services.windows.users["Email"] = [](Form& d) {
    d.onClick("optEmailType(1)");
    d.onClick("cmdSend");
  };
  handler.TransmitMail("r");
  EXPECT_EQ(shown(), std::vector<Shown>{kClientOpened}) << "the route chosen applies at once";
}

TEST_F(MailDispatchTest, UnknownRouteDoesNothingAndRestoresThePointer) {
  quietRoute("3");
  handler.TransmitMail("r");
  EXPECT_TRUE(shown().empty());
  EXPECT_TRUE(services.shell.calls.empty());
  EXPECT_EQ(services.pointer.history, (std::vector<int>{11, 0}));
}

TEST_F(MailDispatchTest, FailuresEndSilently) {
  installOutlook();
  set("EmailSettings", "maybe");
  handler.TransmitMail("r");
  set("EmailSettings", "True");
  quietRoute("70000");  // beyond 16 bits
  handler.TransmitMail("r");
  set("EmailType", "0");
  services.settings.failSave = true;
  handler.TransmitMail("r");
  services.settings.failSave = false;
  services.settings.failGet = true;
  handler.TransmitMail("r");
  EXPECT_TRUE(shown().empty());
  EXPECT_TRUE(outlookLog.empty());
  EXPECT_EQ(services.pointer.value(), 0);
  services.settings.failGet = false;
  services.clipboard.fail = true;
  handler.TransmitMail("r");
  EXPECT_TRUE(shown().empty()) << "a clipboard failure ends it too";
}

TEST_F(MailDispatchTest, ErrorDialogEntryUsesItsOwnPointerLinkAndRange) {
  fake::MousePointer dialogPointer;
  std::string detail = "old", detail2, reply;
  ErrorDialogMail dialog{false, dialogPointer, services.network.server, reply, detail, detail2};
  MailDispatch dispatch(services.platform, mail.part<MailValues>(), [&] { showEmailSettings(services.platform, mail); });
  set("EmailType", "1");
  dispatch.EmailError({"ops@example.com", "Ops", "Err 5", "full report"}, dialog);
  EXPECT_EQ(detail, "mailto:ops@example.com?Subject=Err%205");
  EXPECT_EQ(shown(), std::vector<Shown>{kClientOpened});
  EXPECT_EQ(dialogPointer.history, (std::vector<int>{11, 0}));
  EXPECT_TRUE(services.pointer.history.empty());
  EXPECT_EQ(services.clipboard.text, "(earlier content)");
  set("EmailType", "-1");  // outside 0..255: silent end
  dispatch.EmailError({}, dialog);
  EXPECT_EQ(shown().size(), 1u);
  // Unlocked with the settings dialog declined: nothing sent.
  dialog.settingsUnlocked = true;
  set("EmailType", "1");
  dispatch.EmailError({}, dialog);
  EXPECT_EQ(services.windows.shows("Email"), 1);
  EXPECT_EQ(shown().size(), 1u);
}

}  // namespace
}  // namespace quenvar
