#include "mail/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

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
  // A new server and no notices; the session stays wired to the connection.
  void fresh() {
    auto sink = std::move(net.sink);
    net = {}, net.sink = std::move(sink), box.shown.clear(), held.clear();
  }
  // The log without the server's own hang-up, i.e. what the session did.
  Chunks sent() const {
    Chunks out;
    for (const std::string& entry : net.log)
      if (entry != "hang up") out.push_back(entry);
    return out;
  }
  // One give-up notice, after more than the limit but not a pump slice per step beyond it.
  void expectGaveUp(const std::string& message) {
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, message);
    EXPECT_EQ(box.shown[0].title, "SMTP Timeout");
    EXPECT_EQ(box.shown[0].style, 64);
    EXPECT_GT(net.now - 1000, SmtpSession::kReplyLimitSeconds);
    EXPECT_LT(net.now - 1000, SmtpSession::kReplyLimitSeconds + 1);
  }
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
                             "line1\r\nline2\r\n\r\n", ".\r\n", "QUIT\r\n", "close"}));
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].text, "Composed Error Email in SMTP.");
  EXPECT_EQ(box.shown[0].title, "Operation Successful");
  EXPECT_EQ(box.shown[0].style, 0);
  EXPECT_EQ(held, "");
}

// What a complete dialogue sends, step by step: the connect, then each step's sends.
const std::vector<Chunks> kSteps = {
    {"connect mail.example.com:2525"},
    {"HELO build7\r\n"},
    {"MAIL FROM:<orders@example.com>\r\n"},
    {"RCPT TO:<ops@example.com>\r\n"},
    {"DATA\r\n"},
    {"From: Orders <orders@example.com>\r\nDate: Mon, 07 Jan 2002 14:05:09 +0100\r\n"
     "X-Mailer: Error Object Mailer\r\nTo: Ops <ops@example.com>\r\nSubject: Error 1042\r\n\r\n",
     "line1\r\nline2\r\n\r\n", ".\r\n"},
    {"QUIT\r\n"},
};
// The script key answering each step.
const char* const kKeys[] = {"connect", "HELO", "MAIL", "RCPT", "DATA", ".", "QUIT"};
const char* const kCodes[] = {"220", "250", "250", "250", "354", "250", "221"};

// The sends of steps 0..last, in order.
Chunks stepsThrough(size_t last) {
  Chunks out;
  for (size_t i = 0; i <= last; ++i) out.insert(out.end(), kSteps[i].begin(), kSteps[i].end());
  return out;
}

Chunks bytewise(const std::string& text) {
  Chunks out;
  for (char c : text) out.emplace_back(1, c);
  return out;
}

const std::string kTimedOut = "SMTP Service error, Timed out while waiting for response";
std::string improper(const std::string& code, const std::string& reply) {
  return "SMTP Service error, Improper response Code, Code Should have been:" + code + "CodeRecieved" + reply;
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
  session.SendEmail("mail.example.com\r\n", "Orders", "a@x\r\n", "", "t@x", "Hi\r\nBcc: x", "b");
  EXPECT_EQ(net.log[0], "connect mail.example.com:2525");
  EXPECT_EQ(net.log[2], "MAIL FROM:<a@x>\r\n");
  const std::string& headers = net.log[5];
  EXPECT_NE(headers.find("\r\nSubject: HiBcc: x\r\n"), std::string::npos);
  EXPECT_EQ(headers.find("\r\nBcc"), std::string::npos);
  EXPECT_NE(headers.find("\r\nTo: <t@x>\r\n"), std::string::npos);
}

// An address that could close its path or name more recipients is refused before connecting.
TEST_F(Smtp, AddressesThatAreNotOneAddressAreRefused) {
  const std::string from = "From Email Address is not a valid address", to = "To Email Address is not a valid address";
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"a@x>\r\nRCPT TO:<evil@x", "t@x", from}, {"<a@x>", "t@x", from},    {"a@x SIZE=1", "t@x", from},
      {"a@x", "t@x>RCPT TO:<evil@x", to},      {"a@x", "t@x,evil@x", to}, {"a@x", "t@x;evil@x", to},
      {"a@x", "t@x evil@x", to},               {"a@x", "t@x\tSIZE=1", to}, {"o'hara+err@x.example", "ops.desk@x", ""}};
  for (const auto& [fromAddress, toAddress, refusal] : cases) {
    fresh();
    session.SendEmail("m", "Orders", fromAddress, "", toAddress, "s", "b");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, refusal.empty() ? "Composed Error Email in SMTP." : refusal) << toAddress;
    EXPECT_EQ(net.log.empty(), !refusal.empty()) << "connected only to send";
  }
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

TEST_F(Smtp, ByteAtATimeServerCompletes) {
  for (size_t i = 0; i < std::size(kKeys); ++i) net.script[kKeys[i]] = bytewise(std::string(kCodes[i]) + " ok\r\n");
  send();
  EXPECT_EQ(lastMessage(), "Composed Error Email in SMTP.");
  EXPECT_EQ(net.log, [] { auto all = stepsThrough(6); all.push_back("close"); return all; }());
}

// The server hangs up after answering step `i` (the next wait gets nothing) or instead of
// answering it (this wait gets nothing): either way the session times out at the right wait
// and never runs ahead of the dialogue.
TEST_F(Smtp, HangUpAtEachStepTimesOutAtThatWait) {
  for (size_t i = 0; i < std::size(kKeys); ++i)
    for (bool answered : {true, false}) {
      SCOPED_TRACE(std::string(kKeys[i]) + (answered ? " answered" : " unanswered"));
      fresh();
      net.script[kKeys[i]] = answered ? Chunks{std::string(kCodes[i]) + " ok\r\n", net.kHangUp} : Chunks{net.kHangUp};
      send();
      const bool last = answered && i + 1 == std::size(kKeys);
      if (last) {  // nothing left to wait for: the dialogue is complete
        EXPECT_EQ(lastMessage(), "Composed Error Email in SMTP.");
        continue;
      }
      expectGaveUp(kTimedOut);
      EXPECT_EQ(sent(), stepsThrough(answered ? i + 1 : i));
      EXPECT_EQ(net.log.back(), "hang up") << "nothing sent after it";
      EXPECT_EQ(net.st, Socket::State::Closed);
    }
}

TEST_F(Smtp, HangUpMidReplyOrAfterAWrongOne) {
  net.script["MAIL"] = {"25", net.kHangUp};
  send();
  expectGaveUp(kTimedOut);
  EXPECT_EQ(sent(), stepsThrough(2));

  fresh();
  net.script["RCPT"] = {"451 try later\r\n", net.kHangUp};
  send();
  expectGaveUp(improper("250", "451 try later\r\n"));
  EXPECT_EQ(sent(), stepsThrough(3));
}

// Each row: the step answered wrongly and its reply; the session gives up at that wait naming
// the awaited code and the reply, having sent nothing beyond that step.
TEST_F(Smtp, WrongCodeAtEachStepIsNamed) {
  const std::pair<size_t, std::string> rows[] = {
      {0, "421 closing\r\n"}, {1, "500 syntax\r\n"},  {2, "553 bad sender\r\n"}, {3, "251 forwarded\r\n"},
      {4, "250 ok\r\n"},      {5, "552 too big\r\n"}, {6, "250 bye\r\n"},
  };
  for (const auto& [step, reply] : rows) {
    SCOPED_TRACE(reply);
    fresh();
    net.script[kKeys[step]] = {reply};
    send();
    expectGaveUp(improper(kCodes[step], reply));
    EXPECT_EQ(net.log, stepsThrough(step)) << "no close, no further command";
    EXPECT_EQ(held, reply);
  }
}

TEST_F(Smtp, RepliesThatMatch) {
  const std::pair<std::string, Chunks> rows[] = {
      {"a bare code", {"220\r\n"}},
      {"a bare LF ending", {"220 ok\n"}},
      {"noise and NULs before it, one read", {std::string("\0\1garbage\r\n220 ok\r\n", 19)}},
      {"noise and NULs before it, two reads", {std::string("\0\1garbage\r\n", 11), "220 ok\r\n"}},
  };
  for (const auto& [what, greeting] : rows) {
    SCOPED_TRACE(what);
    fresh();
    net.script["connect"] = greeting;
    net.script["HELO"] = {"250\r\n"};
    send();
    EXPECT_EQ(lastMessage(), "Composed Error Email in SMTP.");
  }
}

// A reply holds one slot: every complete reply replaces the one before, so a second reply in the
// same read (or a stray blank line after the awaited one) hides the awaited reply.
TEST_F(Smtp, LaterReplyInTheSameReadHidesTheAwaitedOne) {
  net.incoming = {"250 a\r\n354 b\r\n"};
  EXPECT_TRUE(session.WaitFor("250"));
  EXPECT_EQ(lastMessage(), improper("250", "354 b\r\n"));
  EXPECT_FALSE(session.WaitFor("354")) << "the later one is still held after giving up";

  net.incoming = {"250 a\r\n\r\n"};
  EXPECT_TRUE(session.WaitFor("250"));
  EXPECT_EQ(lastMessage(), improper("250", "\r\n"));
}

TEST_F(Smtp, BodiesThatLookLikeTheEndOfData) {
  for (const std::string body : {".", "a\n.\nb", "a\r\n.\r\n"}) {
    fresh();
    send("s", body);
    ASSERT_EQ(lastMessage(), "Composed Error Email in SMTP.");
    EXPECT_EQ(std::count(net.log.begin(), net.log.end(), ".\r\n"), 1) << "only the terminator";
    EXPECT_EQ(net.log[6].find("\r\n.\r\n"), std::string::npos);
  }
  EXPECT_EQ(mail::bodyText("."), "..");
  EXPECT_EQ(mail::bodyText(""), "");
}

TEST_F(Smtp, EightBitBodyIsDeclaredAndRecipientBreaksAreDropped) {
  send("plain", "Gr\xc3\xbc\xc3\x9f" "e\n");
  EXPECT_NE(net.log[5].find("\r\nSubject: plain\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"),
            std::string::npos);
  EXPECT_EQ(net.log[6], "Gr\xc3\xbc\xc3\x9f" "e\r\n\r\n\r\n") << "body, its line end, then the one sent after it";
  session.SendEmail("m", "Orders", "o@x", "Ops\r\nBcc: evil", "t@x\r\n", "s", "b");
  // Line breaks in the recipient's name or address join the text, never start a header or command.
  const auto end = net.log.end();
  EXPECT_EQ(*(end - 7), "RCPT TO:<t@x>\r\n");
  EXPECT_NE((end - 5)->find("\r\nTo: \"OpsBcc: evil\" <t@x>\r\n"), std::string::npos);
}

// Disabled until the engine forgets, at connect, a reply held from an earlier connection: today
// a stale "220" passes for the greeting and HELO goes to a server that has not greeted.
// A reply never matched stays held, into the next session too: there the old "220 odd" passes
// for the greeting of a server that never greets, so HELO goes out at once.
TEST_F(Smtp, UnmatchedReplyStaysIntoTheNextSession) {
  net.script["HELO"] = {"220 odd\r\n"};
  send();
  net.log.clear(), net.now = 1000, box.shown.clear();
  net.script.erase("connect");
  send();
  EXPECT_EQ(net.log, (Chunks{"close", kSteps[0][0], kSteps[1][0]}));
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].text, "SMTP Service error, Improper response Code, Code Should have been:250CodeRecieved220 odd\r\n");
}

}  // namespace
}  // namespace quenvar

namespace quenvar {
namespace {

// Submission with TLS and sign-in, one case per path: what went over the wire (the envelope
// and message after it elided) and what the user was told. The password never reaches a notice.
TEST(SecureSmtp, EachPathEndsInItsOutcome) {
  const std::string plain = "AUTH PLAIN " + mail::base64(std::string("\0ops\0s3cret", 11)) + "\r\n";
  const std::string kOffered = "250-mta.example.com\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n";
  const std::string kSent = "Composed Error Email in SMTP.";
  struct Case {
    const char* name;
    SmtpSecurity security;
    std::string user;
    std::map<std::string, Chunks> script;
    std::string tlsRefusal;
    Chunks wire;  // up to the first MAIL, or all when the session gave up
    std::string notice;
    std::string held = {};  // a reply an earlier connection left unmatched
  };
  const Case cases[] = {
      {"STARTTLS then AUTH PLAIN", SmtpSecurity::kStartTls, "ops", {{"EHLO", {kOffered}}, {"STARTTLS", {"220 go\r\n"}}, {"AUTH", {"235 ok\r\n"}}}, "",
       {"connect mail.example.com:587", "EHLO build7\r\n", "STARTTLS\r\n", "tls mail.example.com ca.pem",
        "EHLO build7\r\n", plain}, kSent},
      {"implicit TLS, no user", SmtpSecurity::kImplicitTls, "", {{"EHLO", {kOffered}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "EHLO build7\r\n"}, kSent},
      {"AUTH LOGIN when PLAIN is not offered", SmtpSecurity::kImplicitTls, "ops",
       {{"EHLO", {"250-mta\r\n250 AUTH LOGIN\r\n"}}, {"AUTH", {"334 VXNlcm5hbWU6\r\n"}},
        {mail::base64("ops"), {"334 UGFzc3dvcmQ6\r\n"}}, {mail::base64("s3cret"), {"235 ok\r\n"}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "EHLO build7\r\n", "AUTH LOGIN\r\n",
        mail::base64("ops") + "\r\n", mail::base64("s3cret") + "\r\n"}, kSent},
      {"STARTTLS not offered", SmtpSecurity::kStartTls, "ops", {{"EHLO", {"250-mta\r\n250 AUTH PLAIN\r\n"}}}, "",
       {"connect mail.example.com:587", "EHLO build7\r\n", "close"},
       "SMTP STARTTLS failed: the server does not offer TLS"},
      {"certificate not trusted", SmtpSecurity::kStartTls, "ops", {{"EHLO", {kOffered}}, {"STARTTLS", {"220 go\r\n"}}},
       "the server's certificate is not trusted (CN=mta.example.com)",
       {"connect mail.example.com:587", "EHLO build7\r\n", "STARTTLS\r\n", "tls mail.example.com ca.pem", "close"},
       "SMTP TLS handshake failed: the server's certificate is not trusted (CN=mta.example.com)"},
      {"password refused", SmtpSecurity::kImplicitTls, "ops",
       {{"EHLO", {kOffered}}, {"AUTH", {"535 5.7.8 Authentication credentials invalid\r\n"}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "EHLO build7\r\n", plain, "close"},
       "SMTP sign-in failed: the server answered 535 5.7.8 Authentication credentials invalid"},
      {"no sign-in offered", SmtpSecurity::kImplicitTls, "ops", {{"EHLO", {"250 mta\r\n"}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "EHLO build7\r\n", "close"},
       "SMTP sign-in failed: the server offers neither AUTH PLAIN nor AUTH LOGIN"},
      {"greeting refused", SmtpSecurity::kImplicitTls, "", {{"connect", {"554 no service\r\n"}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "close"},
       "SMTP greeting failed: the server answered 554 no service"},
      {"sender refused after sign-in", SmtpSecurity::kImplicitTls, "ops",
       {{"EHLO", {kOffered}}, {"AUTH", {"235 ok\r\n"}}, {"MAIL", {"553 5.7.1 Sender not owned by ops\r\n"}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "EHLO build7\r\n", plain},
       "SMTP MAIL FROM failed: the server answered 553 5.7.1 Sender not owned by ops"},
      // Clear text behind STARTTLS's 220, in its read or already arrived after it: a man in the
      // middle's words that would open the secure server's first reply.
      {"clear text in the 220's read", SmtpSecurity::kStartTls, "ops",
       {{"EHLO", {kOffered}}, {"STARTTLS", {"220 go\r\n250-AUTH PLAIN"}}, {"AUTH", {"235 ok\r\n"}}}, "",
       {"connect mail.example.com:587", "EHLO build7\r\n", "STARTTLS\r\n", "close"},
       "SMTP STARTTLS failed: the server sent data before the handshake"},
      {"clear text after the 220", SmtpSecurity::kStartTls, "ops",
       {{"EHLO", {kOffered}}, {"STARTTLS", {"220 go\r\n", "250 AUTH PLAIN\r\n"}}, {"AUTH", {"235 ok\r\n"}}}, "",
       {"connect mail.example.com:587", "EHLO build7\r\n", "STARTTLS\r\n", "close"},
       "SMTP STARTTLS failed: the server sent data before the handshake"},
      {"an earlier connection's reply", SmtpSecurity::kImplicitTls, "", {{"EHLO", {kOffered}}}, "",
       {"connect mail.example.com:587", "tls mail.example.com ca.pem", "EHLO build7\r\n"}, kSent, "554 old\r\n"},
      {"a user name without TLS", SmtpSecurity::kNone, "ops", {}, "", {},
       "SMTP sign-in refused: a user name needs TLS (SMTPSecurity 1 or 2), as the password is never sent in clear"},
  };
  for (const Case& c : cases) {
    FakeNet net;
    for (const auto& [verb, chunks] : c.script) net.script[verb] = chunks;
    net.tlsRefusal = c.tlsRefusal;
    fake::MessageBoxService box;
    std::string held = c.held;
    SmtpSession session({net, net, net, net, box}, held,
                        SmtpTransport{.port = 587, .security = c.security, .userName = c.user, .caFile = "ca.pem"},
                        "s3cret");
    session.SendEmail("mail.example.com", "Orders", "orders@example.com", "Ops", "ops@example.com", "Err", "body");
    const auto mail = std::find(net.log.begin(), net.log.end(), "MAIL FROM:<orders@example.com>\r\n");
    EXPECT_EQ(Chunks(net.log.begin(), mail), c.wire) << c.name;
    EXPECT_EQ(mail != net.log.end(), c.notice == kSent || c.notice.find("MAIL FROM") != std::string::npos) << c.name;
    ASSERT_EQ(box.shown.size(), 1u) << c.name;
    EXPECT_EQ(box.shown[0].text, c.notice) << c.name;
    EXPECT_EQ(box.shown[0].title, c.notice == kSent ? "Operation Successful" : "Operation Failed") << c.name;
    EXPECT_EQ(box.shown[0].text.find("s3cret"), std::string::npos) << c.name;
  }
}

}  // namespace
}  // namespace quenvar
