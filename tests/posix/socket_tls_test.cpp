// TLS on the POSIX socket through GnuTLS, against the Python peers of tls_peer.py on loopback
// (started by tls_loopback.sh), the same rows as the Windows build.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "../tls_peers.h"
#include "platform/posix/socket_posix.h"

namespace quenvar {
namespace {

TEST(PosixSocketTls, EachPeerEndsAsItShould) {
  const char* folder = ::getenv("QUENVAR_TLS_FOLDER");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "QUENVAR_TLS_FOLDER is not set";
  testing::tls_peers::checkEveryRow({folder, '/', [] { return std::make_unique<PosixSocket>(); },
                                     PosixSocket::systemClock(), [] { ::usleep(200'000); },
                                     [](const std::string& path) {
                                       std::ifstream in(path, std::ios::binary);
                                       return std::string(std::istreambuf_iterator<char>(in), {});
                                     }});
}

}  // namespace
}  // namespace quenvar
