#pragma once
// What both GnuTLS clients (the mail session's and libcurl's) say of a server's certificate.

#include <gnutls/gnutls.h>

#include <string>

namespace quenvar::posix {

// The subject of the certificate the server presented, as "CN=...,O=..."; empty without one.
std::string peerSubject(gnutls_session_t tls);

// False when the server's certificate, or a CA above it, is meant only for other purposes
// than a TLS server's, as the CA's key-purpose extension says.
bool peerServesTls(gnutls_session_t tls);

}  // namespace quenvar::posix
