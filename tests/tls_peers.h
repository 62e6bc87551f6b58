#pragma once
// The TLS peers of servers/tls_peer.py, one row per behaviour, and the check both socket
// backends run against them: the two builds must trust, refuse and word each case alike.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "error_number.h"
#include "platform/http_client.h"
#include "platform/socket.h"

namespace quenvar::testing::tls_peers {

struct Row {
  const char* peer;
  const char* serverName;
  const char* caFile;   // in the peers' folder; "" none
  const char* failure;  // nullptr: the connection comes up; "@" stands for "the trust anchors file <path>",
                        // "(" for any words that hold what follows
};

inline const Row kRows[] = {
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
    // A self-signed certificate with the trusted CA's subject and serial number, which anyone can read.
    {"forged", "mail.quenvar.test", "ca.pem",
     "the server's certificate is not trusted (CN=Quenvar Test CA ca,O=Quenvar Test)"},
    {"forged", "mail.quenvar.test", "bundle.pem",
     "the server's certificate is not trusted (CN=Quenvar Test CA ca,O=Quenvar Test)"},
    {"clientauth", "mail.quenvar.test", "ca.pem",
     "the server's certificate is not trusted (CN=mail.quenvar.test,O=Quenvar Test)"},
    // An address matches address entries only, never a DNS name or common name that spells it.
    {"ipname", "127.0.0.1", "ca.pem", "the server's certificate is not for 127.0.0.1 (CN=127.0.0.1,O=Quenvar Test)"},
    {"tls10", "mail.quenvar.test", "ca.pem", "the server offers no TLS version of 1.2 or later"},
    {"tls", "mail.quenvar.test", "missing.pem", "@ cannot be read"},
    {"tls", "mail.quenvar.test", "nocert.pem", "@ holds no PEM certificate"},
    {"tls", "mail.quenvar.test", "huge.pem", "@ is larger than 4 MB"},
    {"tls", "mail.quenvar.test", "fifo.pem", "@ cannot be read"},
    {"plain", "mail.quenvar.test", "ca.pem", "the server's answer is not TLS"},
    {"hangup", "mail.quenvar.test", "ca.pem", "the server closed the connection"},
    {"junk", "mail.quenvar.test", "ca.pem", "("},  // the TLS library's own words
};

struct Surroundings {
  std::string folder;  // where the peers keep their certificates and ports
  char separator;
  std::function<std::unique_ptr<PumpedSocket>()> makeSocket;
  SteadyClock& clock;
  std::function<void()> pause;                                // a fifth of a second
  std::function<std::string(const std::string&)> readFile;  // whole, by path
};

// The peers' ports, from the "name port" lines of their ports file.
inline std::map<std::string, uint16_t> portsIn(const std::string& lines) {
  std::map<std::string, uint16_t> ports;
  std::istringstream in(lines);
  for (std::string name, port; in >> name >> port;) ports[name] = static_cast<uint16_t>(std::stoi(port));
  return ports;
}

// The hanging collector's row measures the request's timeout, so it is short; every other row
// must get its answer (a TLS handshake and 300 KB, under AddressSanitizer on a loaded machine
// took more than a second), and a timeout there would stand in for it.
inline double timeoutFor(std::string_view peer) { return peer == "http-hang" ? 1 : 10; }

// What a collector answered, as a row expects it; a failure beginning with '*' need only hold
// what follows.
inline void expectAnswer(const HttpAnswer& got, const HttpAnswer& expected) {
  EXPECT_EQ(got.status, expected.status);
  EXPECT_EQ(got.retryAfter, expected.retryAfter);
  EXPECT_EQ(got.rateLimits, expected.rateLimits);
  if (!expected.failure.empty() && expected.failure[0] == '*') {
    EXPECT_NE(got.failure.find(expected.failure.substr(1)), std::string::npos) << got.failure;
    EXPECT_FALSE(got.failure.empty());
  } else {
    EXPECT_EQ(got.failure, expected.failure);
  }
}

inline uint32_t crc32(std::string_view bytes) {
  uint32_t c = ~0u;
  for (const unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

inline bool isAddress(std::string_view name) { return name.find_first_not_of("0123456789.") == std::string::npos; }

inline std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return text;
}

// Every row: what went wrong in the user's words, or the connection up both ways with the
// server name sent as SNI (none for an address).
inline void checkEveryRow(const Surroundings& s) {
  const std::map<std::string, uint16_t> ports = portsIn(s.readFile(s.folder + s.separator + "ports"));
  const std::string payload = [] {
    std::string p(1 << 20, '\0');
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 31 + i / 4096);
    return p;
  }();
  // Pumps until `done` or 10 s; `patient` lets all the peer sends arrive before each read, so the
  // end of the handshake and the data behind it come in one read.
  const auto pumpUntil = [&](PumpedSocket& socket, const std::function<bool()>& done, bool patient = false) {
    const double end = s.clock.seconds() + 10;
    while (!done() && s.clock.seconds() < end) {
      if (patient) s.pause();
      socket.runOnce(0.1);
    }
    return done();
  };

  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.peer) + " " + row.serverName + " " + row.caFile);
    const std::unique_ptr<PumpedSocket> made = s.makeSocket();
    PumpedSocket& socket = *made;
    std::string received;
    socket.onData([&](std::string_view data) { received += data; });
    const double start = s.clock.seconds();
    socket.connect("127.0.0.1", ports.at(row.peer));
    const std::string caFile = *row.caFile ? s.folder + s.separator + row.caFile : "";
    // TLS from the first byte starts while the connection is still being made; STARTTLS (here with
    // the TLS 1.2 peer) on a connection made.
    if (std::string_view(row.peer) == "tls12") {
      for (int i = 0; i < 3; ++i) socket.runOnce(0.1);
    }
    socket.startTls(row.serverName, caFile);
    if (socket.tls() == Socket::Tls::Negotiating) {
      EXPECT_NE(errorNumber([&] { socket.send("early"); }), 0) << "nothing goes out in clear";
    }
    ASSERT_TRUE(pumpUntil(
        socket, [&] { return socket.tls() != Socket::Tls::Negotiating; }, row.failure == nullptr));

    if (row.failure != nullptr) {
      std::string expected = row.failure;
      if (expected[0] == '@') expected.replace(0, 1, "the trust anchors file " + caFile);
      EXPECT_EQ(socket.tls(), Socket::Tls::Failed);
      if (expected[0] == '(') {
        EXPECT_NE(socket.tlsFailure().find(expected.substr(1)), std::string::npos) << socket.tlsFailure();
        EXPECT_FALSE(socket.tlsFailure().empty());
      } else {
        EXPECT_EQ(socket.tlsFailure(), expected);
      }
      EXPECT_EQ(socket.state(), Socket::State::Closed);
      EXPECT_LT(s.clock.seconds() - start, 5);
      EXPECT_TRUE(received.empty()) << received;
      std::printf("%-10s %-18s %-12s -> %s (%.2f s)\n", row.peer, row.serverName, row.caFile,
                  socket.tlsFailure().c_str(), s.clock.seconds() - start);
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
    const size_t sni = reply.rfind(' ');
    const std::string version = reply.substr(reply.rfind(' ', sni - 1) + 1, sni - reply.rfind(' ', sni - 1) - 1);
    EXPECT_TRUE(version == "TLSv1.2" || version == "TLSv1.3") << version;
    if (std::string_view(row.peer) == "tls12") {
      EXPECT_EQ(version, "TLSv1.2");
    }
    EXPECT_EQ(lower(reply.substr(sni + 1)), isAddress(row.serverName) ? "-" : lower(row.serverName))
        << "the server name indication: a host name only";
    std::string pattern;
    for (int i = 0; i < 18750; ++i) pattern += "0123456789abcdef";
    EXPECT_TRUE(received.substr(line + 2) == pattern + "221 bye\r\n") << received.size();
    std::printf("%-10s %-18s %-12s -> up, %s (%.2f s)\n", row.peer, row.serverName, row.caFile, reply.c_str() + 4,
                s.clock.seconds() - start);
  }
}

}  // namespace quenvar::testing::tls_peers
