#include "mail/smtp_transport.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace quenvar {
namespace {

struct SmtpTransportTest : ::testing::Test {
  fake::Services services;
  SmtpTransportSettings settings{services.settings, services.secrets};
  std::optional<std::string> key(const std::string& k) const { return services.settings.mail(k); }
};

TEST_F(SmtpTransportTest, NeverWrittenIsTheClassicSession) {
  const SmtpTransport t = settings.transport();
  EXPECT_EQ(t.port, 25);
  EXPECT_EQ(t.security, SmtpSecurity::kNone);
  EXPECT_TRUE(t.classic());
  EXPECT_EQ(settings.password(), "");
  settings.SMTPUserName("ops");
  EXPECT_FALSE(settings.transport().classic()) << "a user name alone asks for sign-in";
}

// Each value stored as given, or refused with 380 leaving what was stored.
TEST_F(SmtpTransportTest, NumbersOutOfRangeAreRefusedAndStoreNothing) {
  const struct {
    bool port;  // else security
    int32_t value;
    bool accepted;
  } cases[] = {{true, 587, true},     {true, 1, true},     {true, 65535, true}, {true, 0, false},
               {true, 65536, false},  {true, -25, false},  {false, 0, true},    {false, 1, true},
               {false, 2, true},      {false, 3, false},   {false, -1, false}};
  for (const auto& c : cases) {
    const std::string& k = c.port ? SmtpTransportSettings::kPort : SmtpTransportSettings::kSecurity;
    const auto before = key(k);
    const int number = test::failureNumber([&] { c.port ? settings.SMTPPort(c.value) : settings.SMTPSecurity(c.value); });
    EXPECT_EQ(number, c.accepted ? 0 : 380) << k << " " << c.value;
    EXPECT_EQ(key(k), c.accepted ? std::optional(std::to_string(c.value)) : before) << k << " " << c.value;
    if (c.accepted) {
      EXPECT_EQ(c.port ? settings.SMTPPort() : settings.SMTPSecurity(), c.value);
    }
  }
}

TEST_F(SmtpTransportTest, StoredValuesASessionCannotUseRaise) {
  for (const auto& [k, text, number] : {std::tuple{SmtpTransportSettings::kPort, "smtp", 13},
                                        std::tuple{SmtpTransportSettings::kPort, "70000", 380},
                                        std::tuple{SmtpTransportSettings::kSecurity, "7", 380}}) {
    fake::Services fresh;
    fresh.settings.setMail(k, text);
    SmtpTransportSettings s(fresh.settings, fresh.secrets);
    EXPECT_EQ(test::failureNumber([&] { s.transport(); }), number) << k << "=" << text;
  }
}

TEST_F(SmtpTransportTest, ThePasswordGoesToTheSecretStoreAlone) {
  settings.SMTPUserName("ops@example.com");
  settings.SMTPPassword("s3cret app password");
  EXPECT_EQ(settings.password(), "s3cret app password");
  for (const auto& [name, value] : services.settings.values)
    EXPECT_EQ(value.find("s3cret"), std::string::npos) << "the settings hold it under " << std::get<2>(name);
  settings.SMTPPassword("");
  EXPECT_TRUE(services.secrets.secrets.empty()) << "empty removes it";
  services.secrets.fail = true;
  EXPECT_EQ(test::failureNumber([&] { settings.SMTPPassword("x"); }), 70) << "a store failure reaches the caller";
}

}  // namespace
}  // namespace quenvar
