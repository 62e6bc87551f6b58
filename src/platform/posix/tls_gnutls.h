#pragma once
// A TLS client on a connected non-blocking socket, through GnuTLS. The library reads and writes
// the descriptor itself and answers "again" where it would block, so the socket's poll loop and
// the session's deadlines stay in charge of every wait.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quenvar::posix {

class GnuTlsClient {
 public:
  enum class Progress { Again, Done, Failed };

  // Trust: the system's anchors plus those of the PEM file `caFile` (empty: none added). A file
  // that gives no certificate fails the handshake.
  GnuTlsClient(int fd, const std::string& serverName, const std::string& caFile);
  ~GnuTlsClient();
  GnuTlsClient(const GnuTlsClient&) = delete;
  GnuTlsClient& operator=(const GnuTlsClient&) = delete;

  // Done only with the server's certificate checked; Failed: failure() says why, for a user.
  Progress handshake();
  // What to poll for while the handshake answers Again.
  bool wantsWrite() const;
  // Bytes taken or received; 0 when the socket would block; -1 when the connection is over.
  std::ptrdiff_t send(std::string_view bytes);
  std::ptrdiff_t receive(char* buffer, std::size_t size);
  // Decrypted bytes already read from the socket: poll would not announce them.
  bool pending() const;
  // Tells the server the session ends, without waiting for its answer.
  void bye();
  const std::string& failure() const;

 private:
  struct Session;
  std::unique_ptr<Session> session_;
};

}  // namespace quenvar::posix
