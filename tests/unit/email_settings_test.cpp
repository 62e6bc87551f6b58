#include "dialogs/email_settings.h"

#include <gtest/gtest.h>

#include "core/thread_state.h"
#include "platform/headless_window_system.h"
#include "test_support.h"

namespace quenvar {
namespace {

struct EmailSettings : ::testing::Test {
  fake::Services services;
  ThreadState mail;
  EmailSettingsDialog dialog{services.settings, services.messageBox, mail};
  std::optional<std::string> key(const std::string& k) const { return services.settings.mail(k); }
  void expectBoxes(bool enabled) {
    for (const EmailTextBox* box : {&dialog.txtMailserver, &dialog.txtFrom, &dialog.txtEmailAddress}) {
      EXPECT_EQ(box->enabled, enabled);
      EXPECT_EQ(box->backColor, enabled ? 0xFFFFFFu : 0x80000013u);
    }
  }
};

TEST_F(EmailSettings, FirstRunOpensOnOutlookWithGreyEmptyBoxes) {
  dialog.Form_Load();
  EXPECT_EQ(dialog.m_intEmailType, 0);
  expectBoxes(false);
  EXPECT_EQ(dialog.txtMailserver.text + dialog.txtFrom.text + dialog.txtEmailAddress.text, "");
  EXPECT_EQ(dialog.chkShowScreen, 0);
  EXPECT_FALSE(dialog.m_bolEmailFlag);
  EXPECT_TRUE(services.settings.values.empty()) << "loading writes nothing";
}

TEST_F(EmailSettings, LoadShowsStoredRouteAndMailValues) {
  services.settings.setMail("EmailType", "2");
  services.settings.setMail("ShowEmlScre", "1");
  mail.mailServer = "smtp.example.com", mail.fromName = "Orders", mail.fromEmail = "o@example.com";
  dialog.Form_Load();
  EXPECT_EQ(dialog.m_intEmailType, 2);
  expectBoxes(true);
  EXPECT_EQ(dialog.txtMailserver.text, "smtp.example.com");
  EXPECT_EQ(dialog.txtFrom.text, "Orders");
  EXPECT_EQ(dialog.txtEmailAddress.text, "o@example.com");
  EXPECT_EQ(dialog.chkShowScreen, 1);
}

TEST_F(EmailSettings, UnusableStoredValuesOpenOnOutlookUnticked) {
  for (const char* route : {"3", "-1", "abc", "99999"}) {
    services.settings.setMail("EmailType", route);
    services.settings.setMail("ShowEmlScre", "yes");
    dialog.optEmailType_Click(2);
    dialog.chkShowScreen = 1;
    dialog.Form_Load();
    EXPECT_EQ(dialog.m_intEmailType, 0) << route;
    expectBoxes(false);
    EXPECT_EQ(dialog.chkShowScreen, 0);
  }
}

TEST_F(EmailSettings, OptionClickEnablesBoxesOnlyForSmtp) {
  dialog.Form_Load();
  dialog.optEmailType_Click(2);
  expectBoxes(true);
  EXPECT_EQ(dialog.m_intEmailType, 2);
  dialog.optEmailType_Click(1);
  expectBoxes(false);
  EXPECT_EQ(dialog.m_intEmailType, 1);
}

TEST_F(EmailSettings, OkWithDefaultWritesKeysAndLeavesMailValues) {
  mail.mailServer = "kept";
  dialog.Form_Load();
  dialog.optEmailType_Click(1);
  dialog.chkShowScreen = 1;
  dialog.txtMailserver.text = "ignored";
  dialog.cmdSend_Click();
  EXPECT_EQ(key("EmailType"), "1");
  EXPECT_EQ(key("ShowEmlScre"), "1");
  EXPECT_EQ(key("EmailFlag"), "True");
  EXPECT_EQ(mail.mailServer, "kept");
  EXPECT_FALSE(dialog.loaded);
  EXPECT_TRUE(services.messageBox.shown.empty());
}

TEST_F(EmailSettings, OkWithSmtpAndNoServerAsksForItAndWritesNothing) {
  dialog.Form_Load();
  dialog.optEmailType_Click(2);
  dialog.txtEmailAddress.text = "o@example.com";
  dialog.cmdSend_Click();
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
  dialog.Form_Load();
  dialog.optEmailType_Click(2);
  dialog.txtMailserver.text = "smtp.example.com";
  dialog.txtFrom.text = "Orders";
  dialog.cmdSend_Click();
  ASSERT_EQ(services.messageBox.shown.size(), 1u);
  EXPECT_EQ(services.messageBox.shown[0].text, "Enter the Email address for sending the Email through SMTP.");
  EXPECT_EQ(dialog.focus, "txtEmailAddress");
  EXPECT_EQ(mail.mailServer, "smtp.example.com");
  EXPECT_EQ(mail.fromName, "Orders");
  EXPECT_TRUE(services.settings.values.empty());
  // Closing after the rejected "Ok" is not an acceptance.
  dialog.Form_Unload();
  EXPECT_EQ(key("EmailFlag"), "False");
}

TEST_F(EmailSettings, OkWithSmtpAssignsAllThreeUnchanged) {
  dialog.Form_Load();
  dialog.optEmailType_Click(2);
  dialog.txtMailserver.text = "smtp.example.com";
  dialog.txtEmailAddress.text = "mailto:o@example.com";
  dialog.cmdSend_Click();
  EXPECT_EQ(mail.mailServer, "smtp.example.com");
  EXPECT_EQ(mail.fromName, "") << "an empty sender name is accepted";
  EXPECT_EQ(mail.fromEmail, "mailto:o@example.com");
  EXPECT_EQ(key("EmailType"), "2");
  EXPECT_EQ(key("ShowEmlScre"), "0");
  EXPECT_EQ(key("EmailFlag"), "True");
}

TEST_F(EmailSettings, CancelWritesOnlyEmailFlagFalse) {
  dialog.Form_Load();
  dialog.optEmailType_Click(2);
  dialog.cmdCancel_Click();
  EXPECT_EQ(services.settings.values.size(), 1u);
  EXPECT_EQ(key("EmailFlag"), "False");
  EXPECT_FALSE(dialog.loaded);
}

TEST_F(EmailSettings, ChangeEmailSettingsShowsTheDialogOnTheStoredRoute) {
  clsErrHandler handler{services.platform};
  handler.EmailType(2);
  handler.FromEmailAddress("mailto:o@example.com");
  bool smtpShown = false;
  services.windows.emailUser = [&](EmailSettingsDialog& d) {
    smtpShown = d.m_intEmailType == 2 && d.txtMailserver.enabled && d.txtEmailAddress.text == "o@example.com";
  };
  handler.ChangeEmailSettings();
  EXPECT_TRUE(smtpShown);
  EXPECT_EQ(services.windows.emailShows, 1);
  EXPECT_EQ(key("EmailFlag"), "False") << "the close box counts as not accepted";
}

TEST_F(EmailSettings, ChangeEmailSettingsPassesFailuresToTheCaller) {
  clsErrHandler handler{services.platform};
  services.settings.failSave = true;
  EXPECT_EQ(test::failureNumber([&] { handler.ChangeEmailSettings(); }), err::kPathFileAccess);
  services.windows.failEmailShow = true;
  EXPECT_EQ(test::failureNumber([&] { handler.ChangeEmailSettings(); }), err::kInvalidCall);
}

TEST(HeadlessEmailSettings, RefusesToShow) {
  fake::Services services;
  ThreadState mail;
  EmailSettingsDialog dialog{services.settings, services.messageBox, mail};
  HeadlessWindowSystem windows;
  try {
    windows.showEmailSettings(dialog);
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.description(), "No window system is available to show the dialog");
  }
}

}  // namespace
}  // namespace quenvar
