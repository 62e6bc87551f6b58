#include "dialogs/email_settings.h"

#include <gtest/gtest.h>

#include "core/thread_state.h"
#include "test_support.h"

namespace quenvar {
namespace {

struct EmailSettings : ::testing::Test {
  fake::Services services;
  MailValues mail;
  EmailSettingsDialog dialog;
  std::optional<std::string> key(const std::string& k) const { return services.settings.mail(k); }
  void load() { dialog.load(services.platform, mail); }
  const std::string& text(const char* box) { return dialog.control(box).caption; }
  void expectBoxes(bool enabled) {
    for (const char* name : {"txtMailserver", "txtFrom", "txtEmailAddress"}) {
      EXPECT_EQ(dialog.control(name).enabled, enabled) << name;
      EXPECT_EQ(dialog.control(name).backColor, enabled ? 0xFFFFFFu : 0x80000013u) << name;
    }
  }
  // Option values 0, 1, 2 as the user sees them.
  std::vector<int> options() {
    std::vector<int> v;
    for (const char* name : {"optEmailType(0)", "optEmailType(1)", "optEmailType(2)"})
      v.push_back(dialog.control(name).value);
    return v;
  }
};

TEST_F(EmailSettings, FirstRunOpensOnOutlookWithGreyEmptyBoxes) {
  load();
  EXPECT_TRUE(dialog.loaded);
  EXPECT_EQ(dialog.m_intEmailType, 0);
  EXPECT_EQ(options(), (std::vector<int>{1, 0, 0}));
  expectBoxes(false);
  EXPECT_EQ(text("txtMailserver") + text("txtFrom") + text("txtEmailAddress"), "");
  EXPECT_EQ(dialog.control("chkShowScreen").value, 0);
  EXPECT_FALSE(dialog.m_bolEmailFlag);
  EXPECT_TRUE(services.settings.values.empty()) << "loading writes nothing";
}

TEST_F(EmailSettings, LabelsAreRightAlignedAndSizedToTheirTextBesideTheirBoxes) {
  for (const char* name : {"lblMailServer", "lblFrom", "lblEmailAddress"}) {
    const Control& label = dialog.control(name);
    EXPECT_TRUE(label.autoSize) << name;
    EXPECT_EQ(label.alignment, Alignment::Right) << name;
    EXPECT_EQ(label.caption.back(), ' ') << name;
  }
  // Designed to end just left of the boxes, which the sizing keeps.
  EXPECT_EQ(dialog.control("lblMailServer").rect, (Twips{90, 1133, 1380, 195}));
  EXPECT_EQ(dialog.control("lblFrom").rect, (Twips{570, 1583, 900, 195}));
  EXPECT_EQ(dialog.control("lblEmailAddress").rect, (Twips{0, 2063, 1470, 195}));
}

TEST_F(EmailSettings, LoadShowsStoredRouteAndMailValues) {
  services.settings.setMail("EmailType", "2");
  services.settings.setMail("ShowEmlScre", "1");
  mail.mailServer = "smtp.example.com", mail.fromName = "Orders", mail.fromEmail = "o@example.com";
  load();
  EXPECT_EQ(dialog.m_intEmailType, 2);
  EXPECT_EQ(options(), (std::vector<int>{0, 0, 1}));
  expectBoxes(true);
  EXPECT_EQ(text("txtMailserver"), "smtp.example.com");
  EXPECT_EQ(text("txtFrom"), "Orders");
  EXPECT_EQ(text("txtEmailAddress"), "o@example.com");
  EXPECT_EQ(dialog.control("chkShowScreen").value, 1);
}

TEST_F(EmailSettings, UnusableStoredValuesOpenOnOutlookUnticked) {
  for (const char* route : {"3", "-1", "abc", "99999"}) {
    services.settings.setMail("EmailType", route);
    services.settings.setMail("ShowEmlScre", "yes");
    dialog.onClick("optEmailType(2)");
    dialog.onValue("chkShowScreen", 1);
    load();
    EXPECT_EQ(dialog.m_intEmailType, 0) << route;
    EXPECT_EQ(options(), (std::vector<int>{1, 0, 0}));
    expectBoxes(false);
    EXPECT_EQ(dialog.control("chkShowScreen").value, 0);
  }
}

TEST_F(EmailSettings, OptionClickSelectsOneAndEnablesBoxesOnlyForSmtp) {
  load();
  dialog.onClick("optEmailType(2)");
  expectBoxes(true);
  EXPECT_EQ(options(), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(dialog.m_intEmailType, 2);
  dialog.onClick("optEmailType(1)");
  expectBoxes(false);
  EXPECT_EQ(options(), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(dialog.m_intEmailType, 1);
}

TEST_F(EmailSettings, OkWithDefaultWritesKeysAndLeavesMailValues) {
  mail.mailServer = "kept";
  load();
  dialog.onClick("optEmailType(1)");
  dialog.onValue("chkShowScreen", 1);
  dialog.onEdit("txtMailserver", "ignored");
  dialog.onClick("cmdSend");
  EXPECT_EQ(key("EmailType"), "1");
  EXPECT_EQ(key("ShowEmlScre"), "1");
  EXPECT_EQ(key("EmailFlag"), "True");
  EXPECT_EQ(mail.mailServer, "kept");
  EXPECT_FALSE(dialog.loaded);
  EXPECT_TRUE(services.messageBox.shown.empty());
}

TEST_F(EmailSettings, OkWithSmtpAndNoServerAsksForItAndWritesNothing) {
  load();
  dialog.onClick("optEmailType(2)");
  dialog.onEdit("txtEmailAddress", "o@example.com");
  dialog.onClick("cmdSend");
  ASSERT_EQ(services.messageBox.shown.size(), 1u);
  EXPECT_EQ(services.messageBox.shown[0].text, "Enter the MailServer for sending the Email through SMTP.");
  EXPECT_EQ(services.messageBox.shown[0].title, "Email");
  EXPECT_EQ(services.messageBox.shown[0].style, 0);
  EXPECT_EQ(dialog.focus, "txtMailserver");
  EXPECT_TRUE(dialog.loaded);
  EXPECT_TRUE(services.settings.values.empty());
  EXPECT_EQ(mail.fromEmail, "");
}

TEST_F(EmailSettings, OkWithSmtpAndNoAddressKeepsServerAndNameAssigned) {
  load();
  dialog.onClick("optEmailType(2)");
  dialog.onEdit("txtMailserver", "smtp.example.com");
  dialog.onEdit("txtFrom", "Orders");
  dialog.onClick("cmdSend");
  ASSERT_EQ(services.messageBox.shown.size(), 1u);
  EXPECT_EQ(services.messageBox.shown[0].text, "Enter the Email address for sending the Email through SMTP.");
  EXPECT_EQ(dialog.focus, "txtEmailAddress");
  EXPECT_EQ(mail.mailServer, "smtp.example.com");
  EXPECT_EQ(mail.fromName, "Orders");
  EXPECT_TRUE(services.settings.values.empty());
  // Closing after the rejected "Ok" is not an acceptance.
  dialog.onClose();
  EXPECT_EQ(key("EmailFlag"), "False");
  EXPECT_FALSE(dialog.loaded);
}

TEST_F(EmailSettings, OkWithSmtpAssignsAllThreeUnchanged) {
  load();
  dialog.onClick("optEmailType(2)");
  dialog.onEdit("txtMailserver", "smtp.example.com");
  dialog.onEdit("txtEmailAddress", "mailto:o@example.com");
  dialog.onClick("cmdSend");
  EXPECT_EQ(mail.mailServer, "smtp.example.com");
  EXPECT_EQ(mail.fromName, "") << "an empty sender name is accepted";
  EXPECT_EQ(mail.fromEmail, "mailto:o@example.com");
  EXPECT_EQ(key("EmailType"), "2");
  EXPECT_EQ(key("ShowEmlScre"), "0");
  EXPECT_EQ(key("EmailFlag"), "True");
}

TEST_F(EmailSettings, CancelWritesOnlyEmailFlagFalse) {
  load();
  dialog.onClick("optEmailType(2)");
  dialog.onClick("cmdCancel");
  EXPECT_EQ(services.settings.values.size(), 1u);
  EXPECT_EQ(key("EmailFlag"), "False");
  EXPECT_FALSE(dialog.loaded);
}

TEST_F(EmailSettings, ChangeEmailSettingsShowsTheThreadsOneDialogOnTheStoredRoute) {
  clsErrHandler handler{services.platform};
  handler.EmailType(2);
  handler.FromEmailAddress("mailto:o@example.com");
  std::vector<const Form*> seen;
  services.windows.users["Email"] = [&](Form& d) {
    seen.push_back(&d);
    EXPECT_EQ(d.control("optEmailType(2)").value, 1);
    EXPECT_TRUE(d.control("txtMailserver").enabled);
    EXPECT_EQ(d.control("txtEmailAddress").caption, "o@example.com");
  };
  handler.ChangeEmailSettings();
  handler.ChangeEmailSettings();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], threadState().part<ThreadDialogs>().emailSettings.get());
  EXPECT_EQ(key("EmailFlag"), "False") << "the close box counts as not accepted";
  threadState().part<ThreadDialogs>().emailSettings.reset();
}

TEST_F(EmailSettings, ChangeEmailSettingsPassesFailuresToTheCaller) {
  clsErrHandler handler{services.platform};
  services.settings.failSave = true;
  EXPECT_EQ(test::failureNumber([&] { handler.ChangeEmailSettings(); }), err::kPathFileAccess);
  services.windows.fail = true;
  EXPECT_EQ(test::failureNumber([&] { handler.ChangeEmailSettings(); }), err::kInvalidCall);
  threadState().part<ThreadDialogs>().emailSettings.reset();
}

}  // namespace
}  // namespace quenvar
