#pragma once
// A TLS client over the system's Schannel (SSPI), driven by buffers: it never touches the
// network. Its owner hands it what arrived and sends what it gives back. The server's
// certificate is checked here, after the handshake, against the system's trust anchors, those
// of a PEM file and the server's name.

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include "platform/win32/windows_api.h"

#include <security.h>

#include <string>
#include <string_view>

namespace quenvar::win32 {

class SchannelClient {
 public:
  enum class State { Handshake, Up, Failed, Closed };

  SchannelClient() = default;
  ~SchannelClient();
  SchannelClient(const SchannelClient&) = delete;
  SchannelClient& operator=(const SchannelClient&) = delete;

  // Begins the handshake with `serverName`; returns the ClientHello to send. Fails (state())
  // without one when `caFile` (empty: none) cannot be read or holds no certificate.
  std::string start(const std::string& serverName, const std::string& caFile);
  // Takes received bytes; returns what must go back to the server. Decrypted data is appended
  // to `plain`, also what came in the same read as the end of the handshake.
  std::string receive(std::string_view bytes, std::string& plain);
  // The records carrying `plain`, each of at most the stream's maximum message; only when Up.
  std::string encrypt(std::string_view plain);
  // The close_notify alert, when Up; empty when there is none to send.
  std::string shutdown();

  State state() const { return state_; }
  const std::string& failure() const { return failure_; }
  void fail(std::string why);

 private:
  bool handshakeStep(std::string& out);
  bool decryptStep(std::string& plain, std::string& out);
  std::string closeNotify();
  std::string versionFault();
  // The name the system sends as SNI: none for an address (RFC 6066).
  wchar_t* target() { return indicated_ ? serverName_.data() : nullptr; }

  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false, haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
  void* anchors_ = nullptr;  // HCERTSTORE of the caFile's certificates
  std::string certificate_;  // the server's, as checked
  std::wstring serverName_;
  bool indicated_ = true;  // the name is a host name, not an address
  std::string in_;              // received, not yet used
  bool renegotiating_ = false;  // the peer reopened the handshake after it was up
  bool callAgain_ = false;      // the next step calls the handshake even without input
  bool askedForCertificate_ = false;
  State state_ = State::Handshake;
  std::string failure_;
};

}  // namespace quenvar::win32
