#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS  // dwUrlRetrievalTimeout
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/certificate_check.h"

#include <cstring>

#include "platform/win32/utf.h"

namespace quenvar::win32 {

namespace {

constexpr size_t kMostAnchorBytes = 4 << 20;
constexpr DWORD kIgnoreUnknownCa = 0x100;       // SECURITY_FLAG_IGNORE_UNKNOWN_CA of <wininet.h>
constexpr DWORD kIgnoreNameMismatch = 0x1000;  // SECURITY_FLAG_IGNORE_CERT_CN_INVALID

// The subject as GnuTLS writes it, "CN=...,O=...".
std::string subjectOf(PCCERT_CONTEXT cert) {
  wchar_t name[1024];
  const DWORD length = ::CertNameToStrW(X509_ASN_ENCODING, &cert->pCertInfo->Subject,
                                        CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, name, 1024);
  std::string out;
  bool quoted = false;
  for (const char c : length > 1 ? narrow(std::wstring_view(name, length - 1)) : std::string()) {
    if (!(c == ' ' && !quoted && !out.empty() && out.back() == ',')) out += c;
    quoted ^= c == '"';
  }
  return out;
}

// Whether `name` is an IP address that `cert` names in an address entry: never a DNS name or
// common name that spells it, which the SSL policy would match.
bool namesAddress(PCCERT_CONTEXT cert, const std::wstring& name) {
  BYTE address[16];
  const DWORD size = addressBytes(name, address);
  const CERT_EXTENSION* extension =
      ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD length = 0;
  if (size == 0 || extension == nullptr ||
      !::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &length))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == size &&
            std::memcmp(entry.IPAddress.pbData, address, size) == 0;
  }
  ::LocalFree(names);
  return found;
}

}  // namespace

HCERTSTORE loadAnchors(const std::string& path, std::string& why) {
  const HANDLE file = ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return why = "the trust anchors file " + path + " cannot be read", nullptr;
  std::string pem;
  char chunk[4096];
  DWORD read = 0;
  // A pipe or device named as the file would never end.
  bool whole = ::GetFileType(file) == FILE_TYPE_DISK;
  while (whole && pem.size() <= kMostAnchorBytes && (whole = ::ReadFile(file, chunk, sizeof chunk, &read, nullptr)) &&
         read > 0)
    pem.append(chunk, read);
  ::CloseHandle(file);
  if (!whole) return why = "the trust anchors file " + path + " cannot be read", nullptr;
  if (pem.size() > kMostAnchorBytes) return why = "the trust anchors file " + path + " is larger than 4 MB", nullptr;
  const HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----", kEnd = "-----END CERTIFICATE-----";
  int count = 0;
  for (size_t at = pem.find(kBegin); store != nullptr && at != std::string::npos; at = pem.find(kBegin, at)) {
    const size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const char* base64 = pem.data() + at + kBegin.size();
    const auto length = static_cast<DWORD>(end - at - kBegin.size());
    DWORD size = 0;
    std::string der;
    if (::CryptStringToBinaryA(base64, length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
      der.resize(size);
      if (::CryptStringToBinaryA(base64, length, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(der.data()), &size,
                                 nullptr, nullptr) &&
          ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size,
                                             CERT_STORE_ADD_ALWAYS, nullptr))
        ++count;
    }
    at = end + kEnd.size();
  }
  if (count > 0) return store;
  if (store != nullptr) ::CertCloseStore(store, 0);
  return why = "the trust anchors file " + path + " holds no PEM certificate", nullptr;
}

DWORD addressBytes(const std::wstring& name, BYTE (&address)[16]) {
  return ::InetPtonW(AF_INET, name.c_str(), address) == 1    ? 4
         : ::InetPtonW(AF_INET6, name.c_str(), address) == 1 ? 16
                                                             : 0;
}

// No revocation check: offline test CAs, and many private mail servers', publish no revocation
// list that could be reached.
std::string checkCertificate(PCCERT_CONTEXT cert, const std::wstring& name, HCERTSTORE anchors, DWORD urlRetrievalMs) {
  // The intermediates the server sent, and the caFile's anchors added to the system's.
  const HCERTSTORE pool = ::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (pool != nullptr) {
    ::CertAddStoreToCollection(pool, cert->hCertStore, 0, 0);
    if (anchors != nullptr) ::CertAddStoreToCollection(pool, anchors, 0, 0);
  }
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage = {1, usages};
  // Windows may fetch missing intermediates and roots: within the caller's limit.
  para.dwUrlRetrievalTimeout = urlRetrievalMs;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  const BOOL built = ::CertGetCertificateChain(nullptr, cert, nullptr, pool, &para, 0, nullptr, &chain);
  if (pool != nullptr) ::CertCloseStore(pool, 0);
  const std::string subject = " (" + subjectOf(cert) + ")";
  if (!built || chain == nullptr || chain->cChain == 0) return "the server's certificate is not trusted" + subject;

  // An untrusted root is no fault when the caFile holds that very certificate: its whole
  // encoding, not its issuer and serial number, which anyone can copy into one of their own.
  const CERT_SIMPLE_CHAIN* path = chain->rgpChain[0];
  const PCCERT_CONTEXT root = path->rgpElement[path->cElement - 1]->pCertContext;
  bool anchored = false;
  for (PCCERT_CONTEXT anchor = nullptr;
       !anchored && anchors != nullptr && (anchor = ::CertEnumCertificatesInStore(anchors, anchor)) != nullptr;) {
    anchored = anchor->cbCertEncoded == root->cbCertEncoded &&
               std::memcmp(anchor->pbCertEncoded, root->pbCertEncoded, root->cbCertEncoded) == 0;
    if (anchored) ::CertFreeCertificateContext(anchor);
  }
  DWORD faults =
      chain->TrustStatus.dwErrorStatus &
      ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (anchored) faults &= ~CERT_TRUST_IS_UNTRUSTED_ROOT;
  BYTE address[16];
  const bool byAddress = addressBytes(name, address) != 0;
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = (anchored ? kIgnoreUnknownCa : 0) | (byAddress ? kIgnoreNameMismatch : 0);
  ssl.pwszServerName = byAddress ? nullptr : const_cast<wchar_t*>(name.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
    status.dwError = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  ::CertFreeCertificateChain(chain);
  long error = static_cast<long>(status.dwError);
  if (error == 0 && byAddress && !namesAddress(cert, name)) error = CERT_E_CN_NO_MATCH;
  // The chain's own findings come first, whatever the policy makes of them: Wine's SSL policy
  // passes a chain that ends without a root (CERT_TRUST_IS_PARTIAL_CHAIN).
  if (faults & ~CERT_TRUST_IS_NOT_TIME_VALID)
    error = CERT_E_UNTRUSTEDROOT;
  else if (faults != 0)
    error = CERT_E_EXPIRED;
  const bool early = ::CertVerifyTimeValidity(nullptr, cert->pCertInfo) < 0;
  switch (error) {
    case 0: return {};
    case CERT_E_EXPIRED:
      return "the server's certificate " + std::string(early ? "is not valid yet" : "has expired") + subject;
    case CERT_E_CN_NO_MATCH: return "the server's certificate is not for " + narrow(name) + subject;
    default: return "the server's certificate is not trusted" + subject;
  }
}
}  // namespace quenvar::win32
