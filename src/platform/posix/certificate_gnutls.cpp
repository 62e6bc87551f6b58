#include "platform/posix/certificate_gnutls.h"

#include <gnutls/x509.h>

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

}  // namespace quenvar::posix
