#include "platform/posix/tls_gnutls.h"
#include "platform/posix/certificate_gnutls.h"
#include "platform/posix/interrupted.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <list>
#include <mutex>
#include <optional>

namespace quenvar::posix {

namespace {

bool isAddress(const std::string& name) {
  unsigned char scratch[16];
  return ::inet_pton(AF_INET, name.c_str(), scratch) == 1 || ::inet_pton(AF_INET6, name.c_str(), scratch) == 1;
}

constexpr const char* kOldVersion = "the server offers no TLS version of 1.2 or later";

std::string libraryWords(gnutls_session_t tls, int error) {
  // A server that speaks only older versions refuses the ClientHello with this alert.
  if (error == GNUTLS_E_FATAL_ALERT_RECEIVED && gnutls_alert_get(tls) == GNUTLS_A_PROTOCOL_VERSION) return kOldVersion;
  switch (error) {
    case GNUTLS_E_PREMATURE_TERMINATION:
    case GNUTLS_E_PULL_ERROR:
    case GNUTLS_E_PUSH_ERROR: return "the server closed the connection";
    case GNUTLS_E_UNEXPECTED_PACKET_LENGTH:
    case GNUTLS_E_UNSUPPORTED_VERSION_PACKET:
    case GNUTLS_E_UNEXPECTED_PACKET: return "the server's answer is not TLS";
    default: {
      std::string words = gnutls_strerror(error);
      if (!words.empty() && words.back() == '.') words.pop_back();
      return words;
    }
  }
}

using Credentials = std::shared_ptr<gnutls_certificate_credentials_st>;

// Reading the system's trust store takes tens of milliseconds, more than the rest of a session
// on loopback: the anchors are read once per process and content of the CA file, and shared
// by the sessions of every thread (GnuTLS only reads them once set up). Null with `failure` set
// when they cannot be had.
Credentials trustAnchors(const std::string& caFile, std::string& failure) {
  std::string pem;
  if (!caFile.empty()) {
    std::optional<std::string> read = readAnchors(caFile, failure);
    if (!read) return nullptr;
    pem = std::move(*read);
  }
  // An empty file is no file: it must not find the system's anchors alone.
  const std::string key = caFile.empty() ? std::string() : "file\n" + pem;
  static std::mutex lock;
  // Never destroyed: a session may still hold anchors while the process ends.
  static auto* cache = new std::list<std::pair<std::string, Credentials>>;
  const std::lock_guard<std::mutex> held(lock);
  for (auto it = cache->begin(); it != cache->end(); ++it)
    if (it->first == key) {
      cache->splice(cache->begin(), *cache, it);
      return it->second;
    }
  gnutls_certificate_credentials_t made = nullptr;
  if (gnutls_certificate_allocate_credentials(&made) < 0) {
    failure = "TLS cannot be set up on this machine";
    return nullptr;
  }
  Credentials anchors(made, gnutls_certificate_free_credentials);
  gnutls_certificate_set_x509_system_trust(made);  // none at all is still a usable setup
  const gnutls_datum_t data{reinterpret_cast<unsigned char*>(pem.data()), static_cast<unsigned>(pem.size())};
  if (!caFile.empty() && gnutls_certificate_set_x509_trust_mem(made, &data, GNUTLS_X509_FMT_PEM) <= 0) {
    failure = "the trust anchors file " + caFile + " holds no PEM certificate";
    return nullptr;
  }
  cache->emplace_front(key, anchors);
  if (cache->size() > 4) cache->pop_back();
  return anchors;
}

}  // namespace

struct GnuTlsClient::Session {
  Credentials credentials;
  gnutls_session_t tls = nullptr;
  std::string serverName;
  std::string failure;

  std::string subject() const { return peerSubject(tls); }

  // Revocation is not checked: the certificates of private and test authorities name no
  // reachable responder, and a session must not wait on one.
  bool verified() {
    if (gnutls_protocol_get_version(tls) < GNUTLS_TLS1_2) {
      failure = kOldVersion;
      return false;
    }
    unsigned status = 0;
    // The name, and the purpose: a certificate the CA issued for a client is no server's.
    gnutls_typed_vdata_st checks[] = {
        {GNUTLS_DT_DNS_HOSTNAME, reinterpret_cast<unsigned char*>(serverName.data()), 0},
        {GNUTLS_DT_KEY_PURPOSE_OID, reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER)), 0}};
    if (const int r = gnutls_certificate_verify_peers(tls, checks, 2, &status); r < 0) {
      failure = "the server's certificate cannot be checked: " + libraryWords(tls, r);
      return false;
    }
    if (status == 0) return true;
    const std::string named = " (" + subject() + ")";
    constexpr unsigned kUntrusted = GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA |
                                    GNUTLS_CERT_REVOKED | GNUTLS_CERT_INSECURE_ALGORITHM |
                                    GNUTLS_CERT_SIGNATURE_FAILURE | GNUTLS_CERT_PURPOSE_MISMATCH;
    if (status & kUntrusted) failure = "the server's certificate is not trusted" + named;
    else if (status & GNUTLS_CERT_EXPIRED) failure = "the server's certificate has expired" + named;
    else if (status & GNUTLS_CERT_NOT_ACTIVATED) failure = "the server's certificate is not valid yet" + named;
    else if (status & GNUTLS_CERT_UNEXPECTED_OWNER) failure = "the server's certificate is not for " + serverName + named;
    else failure = "the server's certificate is not trusted" + named;
    return false;
  }
};

GnuTlsClient::GnuTlsClient(int fd, const std::string& serverName, const std::string& caFile)
    : session_(std::make_unique<Session>()) {
  Session& s = *session_;
  s.serverName = serverName;
  s.credentials = trustAnchors(caFile, s.failure);
  if (!s.credentials) return;
  if (gnutls_init(&s.tls, GNUTLS_CLIENT | GNUTLS_NONBLOCK | GNUTLS_NO_SIGNAL) < 0) {
    s.failure = "TLS cannot be set up on this machine";
    return;
  }
  // TLS 1.2 at least, whatever the system's defaults still allow.
  if (gnutls_set_default_priority_append(s.tls, "-VERS-SSL3.0:-VERS-TLS1.0:-VERS-TLS1.1:-VERS-DTLS-ALL", nullptr, 0) < 0) {
    s.failure = "TLS cannot be set up on this machine";
    return;
  }
  gnutls_credentials_set(s.tls, GNUTLS_CRD_CERTIFICATE, s.credentials.get());
  // Server name indication carries host names only.
  if (!isAddress(serverName)) gnutls_server_name_set(s.tls, GNUTLS_NAME_DNS, serverName.data(), serverName.size());
  gnutls_handshake_set_timeout(s.tls, 0);  // the session's own deadline rules
  gnutls_transport_set_int(s.tls, fd);
}

GnuTlsClient::~GnuTlsClient() {
  if (session_->tls) gnutls_deinit(session_->tls);
}

GnuTlsClient::Progress GnuTlsClient::handshake() {
  Session& s = *session_;
  if (!s.failure.empty()) return Progress::Failed;
  const int r = gnutls_handshake(s.tls);
  if (r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED) return Progress::Again;
  if (r < 0 && !gnutls_error_is_fatal(r)) return Progress::Again;
  if (r < 0) {
    s.failure = libraryWords(s.tls, r);
    return Progress::Failed;
  }
  return s.verified() ? Progress::Done : Progress::Failed;
}

bool GnuTlsClient::wantsWrite() const { return gnutls_record_get_direction(session_->tls) == 1; }

std::ptrdiff_t GnuTlsClient::send(std::string_view bytes) {
  const ssize_t n = gnutls_record_send(session_->tls, bytes.data(), bytes.size());
  if (n >= 0) return n;
  if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) return 0;
  session_->failure = libraryWords(session_->tls, static_cast<int>(n));
  return -1;
}

std::ptrdiff_t GnuTlsClient::receive(char* buffer, std::size_t size) {
  const ssize_t n = gnutls_record_recv(session_->tls, buffer, size);
  if (n > 0) return n;
  if (n == 0) return -1;  // the server ended the session
  if (!gnutls_error_is_fatal(static_cast<int>(n))) return 0;  // again, a ticket, a warning alert
  session_->failure = libraryWords(session_->tls, static_cast<int>(n));
  return -1;
}

bool GnuTlsClient::pending() const { return gnutls_record_check_pending(session_->tls) > 0; }

void GnuTlsClient::bye() {
  if (session_->tls && session_->failure.empty()) gnutls_bye(session_->tls, GNUTLS_SHUT_WR);
}

const std::string& GnuTlsClient::failure() const { return session_->failure; }

}  // namespace quenvar::posix
