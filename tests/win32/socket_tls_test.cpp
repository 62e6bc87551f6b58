// TLS on the Winsock socket through Schannel, against the Python peers of tls_peer.py on
// loopback (started by tls_loopback.sh), one row per behaviour, the same rows as the native build.

#include <gtest/gtest.h>

#include "../tls_peers.h"
#include "platform/win32/socket_win32.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

TEST(Win32SocketTls, EachPeerEndsAsItShould) {
  const std::string folder = testing::environment(L"QUENVAR_TLS_FOLDER");
  if (folder.empty()) GTEST_SKIP() << "QUENVAR_TLS_FOLDER is not set";
  Win32SteadyClock clock;
  testing::tls_peers::checkEveryRow({folder, '\\', [] { return std::make_unique<Win32Socket>(); }, clock,
                                     [] { ::Sleep(200); }, [](const std::string& path) { return testing::readBytes(path); }});
}

TEST(Win32SocketTlsStart, NeedsAnOpenConnection) {
  Win32Socket socket;
  EXPECT_EQ(testing::errorNumber([&] { socket.startTls("mail.quenvar.test", ""); }), err::kInvalidCall);
  EXPECT_EQ(socket.tls(), Socket::Tls::Off);
}

}  // namespace
}  // namespace quenvar
