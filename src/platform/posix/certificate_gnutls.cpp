#include "platform/posix/certificate_gnutls.h"

#include <fcntl.h>
#include <gnutls/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/interrupted.h"

namespace quenvar::posix {

std::string peerSubject(gnutls_session_t tls) {
  unsigned count = 0;
  const gnutls_datum_t* chain = gnutls_certificate_get_peers(tls, &count);
  gnutls_x509_crt_t certificate = nullptr;
  std::string out;
  if (count == 0 || gnutls_x509_crt_init(&certificate) < 0) return out;
  gnutls_datum_t dn{};
  if (gnutls_x509_crt_import(certificate, &chain[0], GNUTLS_X509_FMT_DER) >= 0 &&
      gnutls_x509_crt_get_dn3(certificate, &dn, 0) >= 0) {
    out.assign(reinterpret_cast<const char*>(dn.data), dn.size);
    gnutls_free(dn.data);
  }
  gnutls_x509_crt_deinit(certificate);
  return out;
}

bool peerServesTls(gnutls_session_t tls) {
  gnutls_typed_vdata_st purpose[] = {
      {GNUTLS_DT_KEY_PURPOSE_OID, reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER)), 0}};
  unsigned status = 0;
  // A check that cannot run says nothing of the purpose; the chain's own check stands.
  if (gnutls_certificate_verify_peers(tls, purpose, 1, &status) < 0) return true;
  return (status & GNUTLS_CERT_PURPOSE_MISMATCH) == 0;
}

// As the Windows build: no anchors file is larger, and a FIFO or device named as one must not
// hold the session up.
constexpr size_t kMostAnchorBytes = 4 << 20;

std::optional<std::string> readAnchors(const std::string& caFile, std::string& failure) {
  failure = "the trust anchors file " + caFile + " cannot be read";
  const int fd = retryInterrupted([&] { return ::open(caFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return std::nullopt;
  struct stat file{};
  std::string pem;
  bool whole = ::fstat(fd, &file) == 0 && S_ISREG(file.st_mode);
  for (char chunk[65536]; whole && pem.size() <= kMostAnchorBytes;) {
    const ssize_t n = retryInterrupted([&] { return ::read(fd, chunk, sizeof chunk); });
    if (n <= 0) {
      whole = n == 0;
      break;
    }
    pem.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!whole) return std::nullopt;
  if (pem.size() > kMostAnchorBytes) {
    failure = "the trust anchors file " + caFile + " is larger than 4 MB";
    return std::nullopt;
  }
  failure.clear();
  return pem;
}

}  // namespace quenvar::posix
