#pragma once
// What both GnuTLS clients (the mail session's and libcurl's) say of a server's certificate,
// and the trust anchors they add to the system's.

#include <gnutls/gnutls.h>

#include <optional>
#include <string>

namespace quenvar::posix {

// The subject of the certificate the server presented, as "CN=...,O=..."; empty without one.
std::string peerSubject(gnutls_session_t tls);

// False when the server's certificate, or a CA above it, is meant only for other purposes
// than a TLS server's, as the CA's key-purpose extension says.
bool peerServesTls(gnutls_session_t tls);

// The bytes of a PEM file of trust anchors, or nothing with `failure` set in words for a user.
// Only an ordinary file of at most 4 MB is read, and it is opened without waiting: a FIFO or
// device named as one must not hold the caller up.
std::optional<std::string> readAnchors(const std::string& caFile, std::string& failure);

}  // namespace quenvar::posix
