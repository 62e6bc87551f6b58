#include "mail/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/fake_platform.h"
#include "mail/mail_text.h"

namespace quenvar {
namespace {

using Chunks = std::vector<std::string>;

using FakeNet = fake::ScriptedServer;

struct Smtp : ::testing::Test {
  FakeNet net;
  fake::MessageBoxService box;
  std::string held;
  SmtpSession session{{net, net, net, net, box}, held, 2525};

  void send(const std::string& subject = "Error 1042", const std::string& body = "line1\nline2") {
    session.SendEmail("mail.example.com", "Orders", "orders@example.com", "Ops", "ops@example.com", subject, body);
  }
  std::string lastMessage() const { return box.shown.empty() ? "" : box.shown.back().text; }
};

TEST_F(Smtp, HappyDialogueSendsExactlyTheseBytes) {
  send();
  EXPECT_EQ(net.log, (Chunks{"connect mail.example.com:2525", "HELO build7\r\n", "MAIL FROM:<orders@example.com>\r\n",
                             "RCPT TO:<ops@example.com>\r\n", "DATA\r\n",
                             "From: Orders <orders@example.com>\r\n"
                             "Date: Mon, 07 Jan 2002 14:05:09 +0100\r\n"
                             "X-Mailer: Error Object Mailer\r\n"
                             "To: Ops <ops@example.com>\r\n"
                             "Subject: Error 1042\r\n\r\n",
                             "line1\r\nline2\r\n", ".\r\n", "QUIT\r\n", "close"}));
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].text, "Composed Error Email in SMTP.");
  EXPECT_EQ(box.shown[0].title, "Operation Successful");
  EXPECT_EQ(box.shown[0].style, 0);
  EXPECT_EQ(held, "");
}

TEST_F(Smtp, BlankSenderIsRefusedBeforeAnyConnection) {
  session.SendEmail("m", "", "", "", "t@x", "s", "b");
  session.SendEmail("m", "\r\n", "", "", "t@x", "s", "b");
  session.SendEmail("m", "Orders", "", "", "t@x", "s", "b");
  ASSERT_EQ(box.shown.size(), 3u);
  EXPECT_EQ(box.shown[0].text, "From Name cannot be blank");
  EXPECT_EQ(box.shown[1].text, "From Name cannot be blank");
  EXPECT_EQ(box.shown[2].text, "From Email Address cannot be blank");
  EXPECT_EQ(box.shown[2].title, "");
  EXPECT_TRUE(net.log.empty());
}

TEST_F(Smtp, WrongCodeGivesUpAfterFiftySecondsAndSendsNothingMore) {
  net.script["RCPT"] = {"550 no such user\r\n"};
  send();
  EXPECT_EQ(lastMessage(), "SMTP Service error, Improper response Code, Code Should have been:250"
                           "CodeRecieved550 no such user\r\n");
  EXPECT_EQ(box.shown.back().title, "SMTP Timeout");
  EXPECT_EQ(box.shown.back().style, 64);
  EXPECT_GT(net.now - 1000, 50.0);
  EXPECT_LT(net.now - 1000, 50.6) << "four short waits before it";
  EXPECT_EQ(net.log.back(), "RCPT TO:<ops@example.com>\r\n");
  EXPECT_EQ(net.st, Socket::State::Open);
  EXPECT_EQ(held, "550 no such user\r\n");

  // The next session closes the old connection; the stale reply is replaced by the new greeting.
  net.script["RCPT"] = {"250 ok\r\n"};
  net.log.clear();
  send();
  EXPECT_EQ(net.log.front(), "close");
  EXPECT_EQ(net.log[1], "connect mail.example.com:2525");
  EXPECT_EQ(lastMessage(), "Composed Error Email in SMTP.");
}

TEST_F(Smtp, SilentServerTimesOut) {
  net.script.erase("connect");
  send();
  EXPECT_EQ(lastMessage(), "SMTP Service error, Timed out while waiting for response");
  EXPECT_EQ(box.shown.back().style, 64);
  EXPECT_EQ(net.log.size(), 1u) << "nothing sent";
}

TEST_F(Smtp, RepliesAreFramedAcrossReadsAndLines) {
  net.script["connect"] = {"22", "0 ready\r\n"};
  net.script["HELO"] = {"250-a\r\n250 b\r\n"};
  net.script["MAIL"] = {"250-x\r\n", "250-y\r\n25", "0 z\r\n"};
  send();
  EXPECT_EQ(lastMessage(), "Composed Error Email in SMTP.");

  net.incoming = {"250-a\r\n250 b\r\n"};
  EXPECT_FALSE(session.WaitFor("250"));
  EXPECT_TRUE(session.WaitFor("250")) << "a multi-line reply matches once";
  EXPECT_EQ(lastMessage(), "SMTP Service error, Timed out while waiting for response");

  net.incoming = {"550 x\r\n", "250 y\r\n"};
  EXPECT_FALSE(session.WaitFor("250")) << "a later complete reply replaces an unmatched one";
  net.incoming = {"2500 x\r\n"};
  EXPECT_FALSE(session.WaitFor("250"));
  net.incoming = {"25\r\n"};
  EXPECT_TRUE(session.WaitFor("25"));
}

TEST_F(Smtp, RunawayReplyIsCappedAndFramingSurvives) {
  std::string flood;
  for (int i = 0; i < 100; ++i) flood += "250-" + std::string(1000, 'x') + "\r\n";
  net.incoming = {flood, "250 end\r\n", "221 bye\r\n"};
  net.runOnce(0), net.runOnce(0);
  EXPECT_EQ(held.size(), SmtpSession::kReplyCap);
  EXPECT_FALSE(session.WaitFor("250"));
  EXPECT_FALSE(session.WaitFor("221"));
}

TEST(MailText, BodyIsNormalisedStuffedAndBroken) {
  EXPECT_EQ(mail::bodyText("a\rb\nc\r\n.d\n..e\r\r\n"), "a\r\nb\r\nc\r\n..d\r\n...e\r\n\r\n");
  const std::string body = std::string(2000, 'x') + "\n." + std::string(1500, 'y');
  const std::string wire = mail::bodyText(body);
  std::string rebuilt, line;
  for (size_t start = 0, end; start <= wire.size(); start = end + 2) {
    end = std::min(wire.find("\r\n", start), wire.size());
    line = wire.substr(start, end - start);
    EXPECT_LE(line.size(), 998u);
    rebuilt += line.rfind('.', 0) == 0 ? line.substr(1) : line;
  }
  EXPECT_EQ(rebuilt, std::string(2000, 'x') + "." + std::string(1500, 'y'));
  EXPECT_EQ(mail::bodyText(std::string(997, 'a') + "\xc3\xbc"), std::string(997, 'a') + "\r\n\xc3\xbc")
      << "never cuts a character";
}

TEST_F(Smtp, NoValueCanInjectHeadersOrCommands) {
  session.SendEmail("mail.example.com\r\n", "Orders", "a@x>\r\nRCPT TO:<evil@x", "", "t@x", "Hi\r\nBcc: x", "b");
  EXPECT_EQ(net.log[0], "connect mail.example.com:2525");
  EXPECT_EQ(net.log[2], "MAIL FROM:<a@x>RCPT TO:<evil@x>\r\n");
  const std::string& headers = net.log[5];
  EXPECT_NE(headers.find("\r\nSubject: HiBcc: x\r\n"), std::string::npos);
  EXPECT_EQ(headers.find("\r\nBcc"), std::string::npos);
  EXPECT_NE(headers.find("\r\nTo: <t@x>\r\n"), std::string::npos);
}

TEST_F(Smtp, NonAsciiTextIsEncodedAndDeclared) {
  send("Fehler in B\xc3\xbc" "cher");
  const std::string& headers = net.log[5];
  EXPECT_NE(headers.find("\r\nSubject: =?utf-8?B?RmVobGVyIGluIELDvGNoZXI=?=\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(mail::mailbox("Smith, John", "j@x"), "\"Smith, John\" <j@x>");
  EXPECT_EQ(mail::dateField({2026, 12, 31, 23, 59, 0, 4, -330}), "Thu, 31 Dec 2026 23:59:00 -0530");
  EXPECT_EQ(mail::headerText(std::string(60, 'a') + "\xc3\xbc").find("?=\r\n =?utf-8?B?"), 70u) << "folded words";
}

}  // namespace
}  // namespace quenvar
