// TLS on the Winsock socket through Schannel, against the Python peers of tls_peer.py on
// loopback (started by tls_loopback.sh), one row per behaviour.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

#include "platform/win32/socket_win32.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

uint32_t crc32(std::string_view bytes) {
  uint32_t c = ~0u;
  for (const unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// Pumps until `done` or 10 s; `patient` lets all the peer sends arrive before each read, so the
// end of the handshake and the data behind it come in one read.
bool pumpUntil(Win32Socket& socket, const std::function<bool()>& done, bool patient = false) {
  Win32SteadyClock clock;
  const double end = clock.seconds() + 10;
  while (!done() && clock.seconds() < end) {
    if (patient) ::Sleep(200);
    socket.runOnce(0.1);
  }
  return done();
}

struct Row {
  const char* peer;
  const char* serverName;
  const char* caFile;   // in the peers' folder; "" none
  const char* failure;  // nullptr: the connection comes up; "@" stands for "the trust anchors file <path>"
};

const Row kRows[] = {
    {"tls", "mail.quenvar.test", "bundle.pem", nullptr},
    {"tls12", "mail.quenvar.test", "ca.pem", nullptr},
    {"tls12", "127.0.0.1", "ca.pem", nullptr},
    {"tls12", "127.0.0.2", "ca.pem",
     "the server's certificate is not for 127.0.0.2 (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"tls12", "MAIL.Quenvar.test", "ca.pem", nullptr},
    {"tls12", "quenvar.test", "ca.pem",
     "the server's certificate is not for quenvar.test (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"tls", "mail.quenvar.test", "", "the server's certificate is not trusted (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"tls", "mail.quenvar.test", "other.pem",
     "the server's certificate is not trusted (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"tls", "other.quenvar.test", "ca.pem",
     "the server's certificate is not for other.quenvar.test (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"expired", "mail.quenvar.test", "ca.pem",
     "the server's certificate has expired (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"early", "mail.quenvar.test", "ca.pem",
     "the server's certificate is not valid yet (CN=mail.quenvar.test,O=Quenvar Test)"},
    {"tls", "mail.quenvar.test", "missing.pem", "@ cannot be read"},
    {"tls", "mail.quenvar.test", "nocert.pem", "@ holds no PEM certificate"},
    {"plain", "mail.quenvar.test", "ca.pem", "the server's answer is not TLS"},
    {"hangup", "mail.quenvar.test", "ca.pem", "the server closed the connection"},
    {"junk", "mail.quenvar.test", "ca.pem", "(0x"},  // the system's words for its status
};

TEST(Win32SocketTls, EachPeerEndsAsItShould) {
  const std::string folder = testing::environment(L"QUENVAR_TLS_FOLDER");
  if (folder.empty()) GTEST_SKIP() << "QUENVAR_TLS_FOLDER is not set";
  std::map<std::string, uint16_t> ports;
  std::istringstream lines(testing::readBytes(folder + "\\ports"));
  for (std::string name, port; lines >> name >> port;) ports[name] = static_cast<uint16_t>(std::stoi(port));
  const std::string payload = [] {
    std::string p(1 << 20, '\0');
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 31 + i / 4096);
    return p;
  }();

  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.peer) + " " + row.serverName + " " + row.caFile);
    Win32Socket socket;
    std::string received;
    socket.onData([&](std::string_view data) { received += data; });
    Win32SteadyClock clock;
    const double start = clock.seconds();
    socket.connect("127.0.0.1", ports.at(row.peer));
    const std::string caFile = *row.caFile ? folder + "\\" + row.caFile : "";
    // TLS from the first byte starts while the connection is still being made; STARTTLS (here with
    // the TLS 1.2 peer) on a connection made.
    if (std::string_view(row.peer) == "tls12") {
      for (int i = 0; i < 3; ++i) socket.runOnce(0.1);
    }
    socket.startTls(row.serverName, caFile);
    if (socket.tls() == Socket::Tls::Negotiating) {
      EXPECT_NE(testing::errorNumber([&] { socket.send("early"); }), 0) << "nothing goes out in clear";
    }
    ASSERT_TRUE(pumpUntil(
        socket, [&] { return socket.tls() != Socket::Tls::Negotiating; }, row.failure == nullptr));

    if (row.failure != nullptr) {
      std::string expected = row.failure;
      if (expected[0] == '@') expected.replace(0, 1, "the trust anchors file " + caFile);
      EXPECT_EQ(socket.tls(), Socket::Tls::Failed);
      if (expected[0] == '(') {
        EXPECT_NE(socket.tlsFailure().find(expected), std::string::npos) << socket.tlsFailure();
      } else {
        EXPECT_EQ(socket.tlsFailure(), expected);
      }
      EXPECT_EQ(socket.state(), Socket::State::Closed);
      EXPECT_LT(clock.seconds() - start, 5);
      EXPECT_TRUE(received.empty()) << received;
      std::printf("%-8s %-20s %-12s -> %s (%.2f s)\n", row.peer, row.serverName, row.caFile,
                  socket.tlsFailure().c_str(), clock.seconds() - start);
      continue;
    }
    ASSERT_EQ(socket.tls(), Socket::Tls::Up) << socket.tlsFailure();
    ASSERT_TRUE(pumpUntil(socket, [&] { return received.size() >= 15; })) << received;
    EXPECT_EQ(received, "220 tls ready\r\n") << "what the server sends right after the handshake";
    received.clear();
    socket.send(payload);
    socket.send("QUIT\r\n");
    EXPECT_TRUE(pumpUntil(socket, [&] { return socket.state() == Socket::State::Closed; }))
        << "the server's close_notify";
    EXPECT_EQ(socket.tls(), Socket::Tls::Off);
    char head[64];
    std::snprintf(head, sizeof head, "250 %zu %08x TLSv1.", payload.size(), static_cast<unsigned>(crc32(payload)));
    const size_t line = received.find("\r\n");
    ASSERT_NE(line, std::string::npos) << received.substr(0, 100);
    const std::string reply = received.substr(0, line);
    EXPECT_EQ(reply.substr(0, std::string_view(head).size()), head);
    if (std::string_view(row.peer) == "tls12") {
      EXPECT_EQ(reply.substr(reply.size() - 7), "TLSv1.2");
    }
    std::string pattern;
    for (int i = 0; i < 18750; ++i) pattern += "0123456789abcdef";
    EXPECT_TRUE(received.substr(line + 2) == pattern + "221 bye\r\n") << received.size();
    std::printf("%-8s %-20s %-12s -> up, %s (%.2f s)\n", row.peer, row.serverName, row.caFile, reply.c_str() + 4,
                clock.seconds() - start);
  }
}

TEST(Win32SocketTlsStart, NeedsAnOpenConnection) {
  Win32Socket socket;
  EXPECT_EQ(testing::errorNumber([&] { socket.startTls("mail.quenvar.test", ""); }), err::kInvalidCall);
  EXPECT_EQ(socket.tls(), Socket::Tls::Off);
}

}  // namespace
}  // namespace quenvar
