// HTTP through libcurl against the collectors of tls_peer.py on loopback (started by
// tls_loopback.sh): each answer, or the lack of one, as the outbox will read it.

#include "platform/posix/http_curl.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "../tls_peers.h"
#include "platform/posix/socket_posix.h"

namespace quenvar {
namespace {

TEST(PosixHttpLoopback, CollectorsAnswerAsTheyShould) {
  const char* folder = ::getenv("QUENVAR_TLS_FOLDER");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "QUENVAR_TLS_FOLDER is not set";
  std::ifstream list(std::string(folder) + "/ports");
  const auto ports = testing::tls_peers::portsIn(std::string(std::istreambuf_iterator<char>(list), {}));
  const std::string dir = folder;
  struct Row {
    const char* peer;
    const char* scheme;
    const char* host;
    std::string caFile;
    HttpAnswer answer;
  };
  const Row rows[] = {
      {"http-200", "http", "127.0.0.1", "", {200, "", "0::organization", ""}},
      {"http-429", "http", "127.0.0.1", "", {429, "30", "30:error:key", ""}},
      {"http-413", "http", "127.0.0.1", "", {413, "", "", ""}},
      {"http-503", "http", "127.0.0.1", "", {503, "", "", ""}},
      {"http-close", "http", "127.0.0.1", "", {0, "", "", "the collector closed the connection"}},
      {"http-hang", "http", "127.0.0.1", "", {0, "", "", "no answer from the collector within 1 s"}},
      {"https-200", "https", "127.0.0.1", dir + "/ca.pem", {200, "", "", ""}},
      {"https-200", "https", "127.0.0.1", dir + "/other.pem", {0, "", "", "*certificate"}},
      {"https-200", "https", "127.0.0.1", dir + "/missing.pem", {0, "", "", "the trust anchors file " + dir + "/missing.pem cannot be read"}},
      {"https-200", "https", "127.0.0.1", dir + "/fifo.pem", {0, "", "", "the trust anchors file " + dir + "/fifo.pem cannot be read"}},
      {"https-clientauth", "https", "127.0.0.1", dir + "/ca.pem", {0, "", "", "the server's certificate is not trusted (CN=mail.quenvar.test,O=Quenvar Test)"}},
      {"tls10", "https", "127.0.0.1", dir + "/ca.pem", {0, "", "", "*TLS handshake failed"}},
      {"plain", "http", "127.0.0.1", "", {0, "", "", "*"}},
  };
  ::mkfifo((dir + "/fifo.pem").c_str(), 0600);  // opened blocking, it would never answer
  CurlHttpClient client;
  const std::string body(300000, 'e');
  for (const Row& row : rows) {
    SCOPED_TRACE(row.peer + std::string(" ") + row.caFile);
    const double start = PosixSocket::systemClock().seconds();
    const std::string url = std::string(row.scheme) + "://" + row.host + ":" + std::to_string(ports.at(row.peer)) +
                            "/api/1/envelope/";
    const double timeout = testing::tls_peers::timeoutFor(row.peer);
    const HttpAnswer got = client.post({url, {{"Content-Type", "application/x-sentry-envelope"}}, body, row.caFile, timeout});
    testing::tls_peers::expectAnswer(got, row.answer);
    EXPECT_LT(PosixSocket::systemClock().seconds() - start, timeout + 2);
  }
}

}  // namespace
}  // namespace quenvar
