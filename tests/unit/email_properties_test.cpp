#include "core/thread_state.h"
#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;
using EmailProperties = HandlerFixture;
using Key = std::tuple<std::string, std::string, std::string>;

TEST_F(EmailProperties, RecipientAndSenderLoseEveryMailtoPrefix) {
  handler.UseInterface(true);
  handler.EmailAddress("mailto:ops@example.com;mailto:dba@example.com");
  handler.ToName("Operations");
  handler.FromEmailAddress("MAILTO:mailto:me@example.com");
  handler.HandleError("x", 1);
  EXPECT_EQ(*dialog.value("m_strEmailAddress")->string(), "ops@example.com;dba@example.com");
  EXPECT_EQ(*dialog.value("m_strToName")->string(), "Operations");
  EXPECT_EQ(threadState().part<MailValues>().fromEmail, "MAILTO:me@example.com") << "letter case counts";
}

TEST_F(EmailProperties, ServerGoesToTheThreadAndTheStore) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform), other(s.platform);
    h.SMTPMailServer("smtp.example.com");
    h.FromName("Orders");
    EXPECT_EQ(threadState().part<MailValues>().mailServer, "smtp.example.com");
    EXPECT_EQ(threadState().part<MailValues>().fromName, "Orders");
    EXPECT_EQ(s.settings.values.at(Key{"Palvenor", "ErrHandler", "SMTPMailServer"}), "smtp.example.com");
  });
  EXPECT_EQ(threadState().part<MailValues>().mailServer, "") << "another thread's values are its own";
}

TEST_F(EmailProperties, RouteAndSwitchLiveInTheStore) {
  EXPECT_EQ(handler.EmailType(), 0);
  EXPECT_TRUE(handler.EmailSettings()) << "True until written";
  handler.EmailType(2);
  handler.EmailSettings(false);
  EXPECT_EQ(services.settings.values.at(Key{"Palvenor", "ErrHandler", "EmailType"}), "2");
  EXPECT_EQ(services.settings.values.at(Key{"Palvenor", "ErrHandler", "EmailSettings"}), "False");
  clsErrHandler other(services.platform);
  EXPECT_EQ(other.EmailType(), 2);
  EXPECT_FALSE(other.EmailSettings());
  services.settings.values[Key{"Palvenor", "ErrHandler", "EmailSettings"}] = "true";
  EXPECT_TRUE(other.EmailSettings());
  services.settings.values[Key{"Palvenor", "ErrHandler", "EmailType"}] = "SMTP";
  EXPECT_EQ(failureNumber([&] { other.EmailType(); }), err::kTypeMismatch);
}

}  // namespace
}  // namespace quenvar
