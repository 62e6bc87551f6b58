// The session and the POSIX socket against real SMTP servers on loopback (aiosmtpd, storing
// what it accepts in a Maildir, read back with Python's own mail parser; Postfix as a strict
// MTA and as a submission server with TLS and sign-in).

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "quenvar/automation_error.h"
#include "mail/smtp_session.h"
#include "platform/posix/socket_posix.h"
#include "temp_folder.h"

extern char** environ;

namespace quenvar {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

int run(const std::string& command) { return std::system(command.c_str()); }

uint16_t freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

class Server {
 public:
  Server(const std::string& maildir, uint16_t port) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const char* argv[] = {kPython, "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
                          "aiosmtpd.handlers.Mailbox", maildir.c_str(), nullptr};
    if (::posix_spawn(&pid_, kPython, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
  }
  ~Server() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

struct Messages : MessageBoxService {
  std::vector<std::string> shown;
  int show(const std::string& text, const std::string&, int) override {
    shown.push_back(text);
    return kAnsweredOk;
  }
};

bool accepting(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// Sends a report with every awkward body feature to the server on `port`, then reads the first
// message stored in `maildir` as a mail reader sees it and checks it whole.
void deliverAndReadBack(uint16_t port, const std::string& maildir, const std::string& scratch) {
  const std::string longLine = [] {
    std::string s;
    for (int i = 0; i < 2000; ++i) s += static_cast<char>('a' + i % 26);
    return s;
  }();
  const std::string body = "Error 1042 in PostInvoice\n.\n..two dots\r\n" + longLine + "\nGr\xc3\xb6\xc3\x9f" "e\n";
  PosixSocket socket;
  PosixSteadyClock clock;
  PosixMailHost host;
  Messages box;
  std::string held;
  SmtpSession session({socket, socket, clock, host, box}, held, port);
  session.SendEmail("127.0.0.1", "Order Desk", "orders@example.com", "Operations", "ops@example.com",
                    "Fehler: B\xc3\xbc" "cher", body);
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0], "Composed Error Email in SMTP.");
  EXPECT_EQ(socket.state(), Socket::State::Closed);

  // One field per line, then the decoded body. A queueing server delivers after the session:
  // a Maildir delivery writes the message under tmp/ and then links it whole into new/, so the
  // first file in new/ is the message. The folders appear with that first delivery.
  const std::string script =
      "import email, email.header, email.utils, os, sys, time\n"
      "new = os.path.join(sys.argv[1], 'new')\n"
      "for _ in range(100):\n"
      "    names = sorted(n for n in os.listdir(new) if not n.startswith('.')) if os.path.isdir(new) else []\n"
      "    if names: break\n"
      "    time.sleep(0.1)\n"
      "else:\n"
      "    sys.exit('no message arrived in ' + new)\n"
      "m = email.message_from_binary_file(open(os.path.join(new, names[0]), 'rb'))\n"
      "s = str(email.header.make_header(email.header.decode_header(m['Subject'])))\n"
      "d = email.utils.parsedate_to_datetime(m['Date'])\n"
      "out = [s, repr(email.utils.parseaddr(m['From'])), repr(email.utils.parseaddr(m['To'])),\n"
      "       str(d.tzinfo is not None), m.get_content_charset() or '']\n"
      "open(sys.argv[2], 'wb').write(('\\n'.join(out) + '\\n').encode() + m.get_payload(decode=True))\n";
  testing::writeAll(scratch + "/read.py", script);
  ASSERT_EQ(run(std::string(kPython) + " " + scratch + "/read.py " + maildir + " " + scratch + "/out"), 0);
  std::istringstream out(testing::readAll(scratch + "/out"));
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(out, line)) lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));

  const std::vector<std::string> expected{
      "Fehler: B\xc3\xbc" "cher", "('Order Desk', 'orders@example.com')", "('Operations', 'ops@example.com')",
      "True", "utf-8", "Error 1042 in PostInvoice", ".", "..two dots",
      // A line over the wire limit arrives in pieces of at most 998 octets, nothing lost.
      longLine.substr(0, 998), longLine.substr(998, 998), longLine.substr(1996),
      // The body's own last line end, then the body text's, then the one sent after it.
      "Gr\xc3\xb6\xc3\x9f" "e", "", ""};
  EXPECT_EQ(lines, expected);
}

TEST(SmtpLoopback, ReportArrivesIntactAtARealServer) {
  if (run(std::string(kPython) + " -c 'import aiosmtpd' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3-aiosmtpd is not installed";
  testing::TempFolder dir;
  const uint16_t port = freePort();
  Server server(dir / "maildir", port);
  for (int i = 0; i < 100 && !accepting(port); ++i) ::usleep(100'000);
  ASSERT_TRUE(accepting(port));
  deliverAndReadBack(port, dir / "maildir", dir.path());
}

// A strict MTA (started by strict_mta.sh, which passes its port and Maildir) refuses bare
// envelope addresses, bare LF and invalid HELO names that a lenient server lets by.
TEST(SmtpLoopback, StrictMtaAcceptsTheReport) {
  const char* port = std::getenv("QUENVAR_STRICT_SMTP_PORT");
  const char* maildir = std::getenv("QUENVAR_STRICT_SMTP_MAILDIR");
  if (!port || !maildir) GTEST_SKIP() << "no strict MTA was started for this run";
  testing::TempFolder dir;
  deliverAndReadBack(static_cast<uint16_t>(std::stoi(port)), maildir, dir.path());
}

// Submission through a real Postfix with sign-in by Dovecot (started by submission_mta.sh,
// which passes its ports, test CA and account and then reads the stored messages back): each
// transport ends in its own outcome, at once, and the password shows in none.
TEST(SmtpSubmission, EachTransportEndsInItsOutcome) {
  const auto env = [](const char* name) { return std::string(std::getenv(name) ? std::getenv(name) : ""); };
  const std::string ca = env("QUENVAR_SUBMISSION_CA");
  if (ca.empty()) GTEST_SKIP() << "no submission server was started for this run";
  const auto port = [&](const char* name) { return static_cast<uint16_t>(std::stoi(env(name))); };
  const uint16_t starttls = port("QUENVAR_SUBMISSION_STARTTLS_PORT"), plain = port("QUENVAR_SUBMISSION_PLAIN_PORT");
  const std::string user = env("QUENVAR_SUBMISSION_USER"), password = env("QUENVAR_SUBMISSION_PASSWORD");
  const std::string sent = "Composed Error Email in SMTP.", handshake = "SMTP TLS handshake failed: the server's certificate ";
  const struct {
    const char* name;
    uint16_t port;
    SmtpSecurity security;
    std::string password, ca, notice, subject;
  } cases[] = {
      {"STARTTLS", starttls, SmtpSecurity::kStartTls, password, ca, sent, ""},
      {"implicit TLS", port("QUENVAR_SUBMISSION_TLS_PORT"), SmtpSecurity::kImplicitTls, password, ca, sent, ""},
      {"wrong password", starttls, SmtpSecurity::kStartTls, "not the password", ca,
       "SMTP sign-in failed: the server answered 535 ", ""},
      {"untrusted", starttls, SmtpSecurity::kStartTls, password, "", handshake + "is not trusted (", "CN=127.0.0.1"},
      {"other name", port("QUENVAR_SUBMISSION_OTHERNAME_PORT"), SmtpSecurity::kStartTls, password, ca,
       handshake + "is not for 127.0.0.1 (", "CN=mail.example.net"},
      {"no STARTTLS", plain, SmtpSecurity::kStartTls, password, ca, "SMTP STARTTLS failed: the server does not offer TLS", ""},
      {"in clear", plain, SmtpSecurity::kNone, password, ca, "SMTP sign-in refused: a user name needs TLS", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PosixSocket socket;
    PosixSteadyClock clock;
    PosixMailHost host;
    Messages box;
    std::string held;
    SmtpSession session({socket, socket, clock, host, box}, held,
                        SmtpTransport{.port = c.port, .security = c.security, .userName = user, .caFile = c.ca},
                        c.password);
    const double started = clock.seconds();
    session.SendEmail("127.0.0.1", "Order Desk", user, "Operations", "ops@example.com",
                      std::string("Submission: ") + c.name, "Error 1042 in PostInvoice\n");
    EXPECT_LT(clock.seconds() - started, 10);
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].rfind(c.notice, 0), 0u) << box.shown[0];
    EXPECT_NE(box.shown[0].find(c.subject), std::string::npos) << box.shown[0];
    EXPECT_EQ(box.shown[0].find(password), std::string::npos);
    EXPECT_EQ(socket.state(), Socket::State::Closed);
  }
}

TEST(SmtpLoopback, RefusedConnectionIsAnAutomationError) {
  PosixSocket socket;
  try {
    socket.connect("127.0.0.1", freePort());
    // Loopback may refuse only once the attempt is under way: then the socket just closes.
    for (int i = 0; i < 20 && socket.state() == Socket::State::Open; ++i) socket.runOnce(0.1);
    EXPECT_EQ(socket.state(), Socket::State::Closed);
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 10061);
  }
  EXPECT_THROW(socket.connect("", 25), AutomationError) << "no name, no lookup";
}

// Each reading is 49 seconds later, as on a session whose peer takes a byte every 49 seconds.
struct SlowClock : SteadyClock {
  double now = 1000;
  double seconds() override { return now += 49; }
};

// A name server that answers only once the test lets it: 0 held, 1 let go, 2 answered.
std::atomic<int> resolver{0};
int hangingResolver(const char* host, const char* service, const addrinfo* hints, addrinfo** found) {
  while (resolver == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const int status = ::getaddrinfo(host, service, hints, found);
  resolver = 2;
  return status;
}

// A lookup that hangs and a peer that reads slowly end the wait at the session's limit, as the
// session's own clock tells it, with "timed out".
TEST(PosixSocket, EveryNetworkWaitEndsAtTheLimit) {
  const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&a), size), 0);
  ASSERT_EQ(::listen(listening, 1), 0);
  ::getsockname(listening, reinterpret_cast<sockaddr*>(&a), &size);
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    const int fd = ::accept(listening, nullptr, nullptr);
    char buffer[65536];
    while (!stop && ::recv(fd, buffer, sizeof buffer, 0) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::close(fd);
  });
  const struct {
    PosixSocket::Resolver resolve;
    std::function<void(PosixSocket&)> action;
  } cases[] = {
      {hangingResolver, [&](PosixSocket& s) { s.connect("localhost", ntohs(a.sin_port)); }},
      {::getaddrinfo, [&](PosixSocket& s) {
         s.connect("127.0.0.1", ntohs(a.sin_port));
         for (int i = 0; i < 10; ++i) s.runOnce(0.01);  // connected
         s.send(std::string(32 << 20, 'x'));
       }}};
  for (const auto& c : cases) {
    SlowClock clock;
    PosixSocket socket(clock, c.resolve);
    const auto started = std::chrono::steady_clock::now();
    try {
      c.action(socket);
      ADD_FAILURE() << "it did not give up";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), 10060);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(socket.state(), Socket::State::Closed);
  }
  stop = true;
  ::shutdown(listening, SHUT_RDWR);
  peer.join();
  ::close(listening);
  resolver = 1;  // the lookup given up on finishes and gives its result back by itself
  for (int i = 0; i < 100 && resolver != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(resolver, 2);
}

}  // namespace
}  // namespace quenvar
