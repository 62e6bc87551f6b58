// HTTP through WinHTTP against the collectors of tls_peer.py on loopback (started by
// tls_loopback.sh): each answer, or the lack of one, as the outbox will read it; the same rows
// as the native build, and the impostors a report must never reach.

#include "platform/win32/http_winhttp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "../tls_peers.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TEST(Win32HttpLoopback, CollectorsAnswerAsTheyShould) {
  const std::string dir = testing::environment(L"QUENVAR_TLS_FOLDER");
  if (dir.empty()) GTEST_SKIP() << "QUENVAR_TLS_FOLDER is not set";
  const auto ports = testing::tls_peers::portsIn(testing::readBytes(dir + "\\ports"));
  const std::string untrusted = "the server's certificate is not trusted (CN=mail.quenvar.test,O=Quenvar Test)";
  const std::string forged = "the server's certificate is not trusted (CN=Quenvar Test CA ca,O=Quenvar Test)";
  struct Row {
    const char* peer;
    const char* scheme;
    std::string caFile;
    HttpAnswer answer;
  };
  const Row rows[] = {
      {"http-200", "http", "", {200, "", "0::organization", ""}},
      {"http-429", "http", "", {429, "30", "30:error:key", ""}},
      {"http-413", "http", "", {413, "", "", ""}},
      {"http-503", "http", "", {503, "", "", ""}},
      {"http-close", "http", "", {0, "", "", "the collector closed the connection"}},
      {"http-hang", "http", "", {0, "", "", "no answer from the collector within 1 s"}},
      {"https-200", "https", dir + "\\ca.pem", {200, "", "", ""}},
      {"https-200", "https", dir + "\\bundle.pem", {200, "", "", ""}},
      {"https-200", "https", dir + "\\other.pem", {0, "", "", untrusted}},
      // Wine refuses an unknown root itself, with 12157 as for any failed handshake and neither
      // the certificate nor the failure's flags to say more.
      {"https-200", "https", "", {0, "", "", "*"}},
      {"https-200", "https", dir + "\\missing.pem", {0, "", "", "the trust anchors file " + dir + "\\missing.pem cannot be read"}},
      {"https-clientauth", "https", dir + "\\ca.pem", {0, "", "", untrusted}},
      {"tls10", "https", dir + "\\ca.pem", {0, "", "", "*TLS handshake failed"}},
      {"plain", "http", "", {0, "", "", "*"}},
      // A self-signed certificate with the trusted CA's subject and serial number, which anyone can
      // read; the mail server behind it writes down every line it receives.
      {"forged", "https", dir + "\\ca.pem", {0, "", "", forged}},
      {"forged-smtp", "https", dir + "\\ca.pem", {0, "", "", forged}},
  };
  WinHttpClient client;
  // Lines, so that the mail server behind the forged certificate would write down each one.
  std::string body;
  for (int i = 0; body.size() < 300000; ++i) body += "report line " + std::to_string(i) + "\r\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.peer + std::string(" ") + row.caFile);
    const double start = seconds();
    const std::string url =
        std::string(row.scheme) + "://127.0.0.1:" + std::to_string(ports.at(row.peer)) + "/api/1/envelope/";
    const HttpAnswer got = client.post(
        {url, {{"Content-Type", "application/x-sentry-envelope"}, {"X-Split", "a\r\nX-Injected: 1"}}, body, row.caFile,
         testing::tls_peers::timeoutFor(row.peer)});
    const double took = seconds() - start;
    testing::tls_peers::expectAnswer(got, row.answer);
    EXPECT_LT(took, testing::tls_peers::timeoutFor(row.peer) + 2);
    std::printf("%-11s %-6s %-11s -> %d %s (%.2f s)\n", row.peer, row.scheme,
                row.caFile.substr(row.caFile.find_last_of('\\') + 1).c_str(), got.status, got.failure.c_str(), took);
  }
  // One client, one session: a connection kept from an earlier request still has its
  // certificate checked and passes.
  for (int i = 0; i < 3; ++i) {
    const HttpAnswer again = client.post({"https://127.0.0.1:" + std::to_string(ports.at("https-200")) + "/api/1/envelope/",
                                          {}, body, dir + "\\ca.pem", testing::tls_peers::timeoutFor("https-200")});
    EXPECT_EQ(again.status, 200) << again.failure;
  }
  // Wine writes the request's head before a refusal in the callback takes hold; never the body,
  // nor a header line a value would have split.
  const std::string impostor = testing::readBytes(dir + "\\forged-smtp.log");
  EXPECT_EQ(impostor.find("report line"), std::string::npos) << impostor;
  EXPECT_EQ(impostor.find("X-Injected"), std::string::npos) << impostor;
  std::printf("the impostor received: %s\n", impostor.c_str());
  // Each collector that answered took the whole body, once.
  const std::string log = testing::readBytes(dir + "\\http.log");
  char line[64];
  std::snprintf(line, sizeof line, "POST /api/1/envelope/ HTTP/1.1 %zu %08x\n", body.size(),
                static_cast<unsigned>(testing::tls_peers::crc32(body)));
  size_t count = 0;
  for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
  EXPECT_EQ(count, 11u) << log;
}

}  // namespace
}  // namespace quenvar
