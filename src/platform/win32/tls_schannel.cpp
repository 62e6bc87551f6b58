#include "platform/win32/tls_schannel.h"

#include <wincrypt.h>
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include <subauth.h>
#include <schannel.h>

#include <algorithm>
#include <cstdio>

#include "quenvar/automation_error.h"
#include "platform/win32/certificate_check.h"
#include "platform/win32/utf.h"

namespace quenvar::win32 {

namespace {

constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
// More than any handshake flight; a peer that sends this much without a whole record is not TLS.
constexpr size_t kMostBuffered = 1 << 20;
constexpr const char* kOldVersion = "the server offers no TLS version of 1.2 or later";

// The system's words for a status, with its number.
std::string statusText(SECURITY_STATUS status) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = length > 0 ? narrow(std::wstring_view(text, length)) : "the TLS layer failed";
  if (text != nullptr) ::LocalFree(text);
  while (!words.empty() && std::string_view(" \r\n.").find(words.back()) != std::string_view::npos) words.pop_back();
  char number[16];
  std::snprintf(number, sizeof number, "%08lX", static_cast<unsigned long>(status));
  return words + " (0x" + number + ")";
}

// Whether `in` can start a TLS record: type 20 to 23, version 3.x, a length TLS allows.
bool recordStart(std::string_view in) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(in[i]); };
  return (in.empty() || (at(0) >= 20 && at(0) <= 23)) && (in.size() < 2 || at(1) == 3) &&
         (in.size() < 5 || at(3) * 256 + at(4) <= (1 << 14) + 2048);
}

bool acquire(CredHandle& handle) {
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  // SCH_CREDENTIALS lets Windows 11 negotiate TLS 1.3; older systems know only SCHANNEL_CRED.
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols =
      SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  SCHANNEL_CRED classic{};
  classic.dwVersion = SCHANNEL_CRED_VERSION;
  classic.dwFlags = flags;
  classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;  // as far as the system goes
  for (void* data : {static_cast<void*>(&modern), static_cast<void*>(&classic)}) {
    if (::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, data,
                                    nullptr, nullptr, &handle, nullptr) == SEC_E_OK)
      return true;
  }
  return false;
}

}  // namespace

SchannelClient::~SchannelClient() {
  if (haveContext_) ::DeleteSecurityContext(&context_);
  if (haveCredentials_) ::FreeCredentialsHandle(&credentials_);
  if (anchors_ != nullptr) ::CertCloseStore(anchors_, 0);
}

void SchannelClient::fail(std::string why) {
  if (state_ == State::Failed) return;  // the first reason is the one that counts
  state_ = State::Failed;
  failure_ = std::move(why);
}

std::string SchannelClient::start(const std::string& serverName, const std::string& caFile) {
  serverName_ = widen(serverName);
  BYTE address[16];
  indicated_ = addressBytes(serverName_, address) == 0;
  std::string out, why;
  if (!caFile.empty() && (anchors_ = loadAnchors(caFile, why)) == nullptr) return fail(why), out;
  if (!(haveCredentials_ = acquire(credentials_))) return fail("this system offers no TLS client"), out;
  callAgain_ = true;
  handshakeStep(out);
  return out;
}

std::string SchannelClient::receive(std::string_view bytes, std::string& plain) {
  std::string out;
  in_.append(bytes);
  for (bool more = true; more;) {
    if (state_ == State::Failed || state_ == State::Closed) break;
    if (!recordStart(in_) || in_.size() > kMostBuffered) {
      fail(state_ == State::Handshake ? "the server's answer is not TLS" : "the server sent data that is not TLS");
      break;
    }
    more = state_ == State::Handshake || renegotiating_ ? handshakeStep(out) : decryptStep(plain, out);
  }
  return out;
}

// One call of the handshake on what has arrived; true when another could use more of it.
bool SchannelClient::handshakeStep(std::string& out) {
  if (in_.empty() && !callAgain_) return false;
  callAgain_ = false;
  SecBuffer input[2] = {{static_cast<ULONG>(in_.size()), SECBUFFER_TOKEN, in_.data()}, {0, SECBUFFER_EMPTY, nullptr}};
  SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc inputs{SECBUFFER_VERSION, 2, input}, outputs{SECBUFFER_VERSION, 1, output};
  ULONG attributes = 0;
  const SECURITY_STATUS status = ::InitializeSecurityContextW(
      &credentials_, haveContext_ ? &context_ : nullptr, target(), kRequest, 0, 0,
      haveContext_ ? &inputs : nullptr, 0, haveContext_ ? nullptr : &context_, &outputs, &attributes, nullptr);
  std::string token;
  if (output[0].pvBuffer != nullptr) {
    token.assign(static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
    ::FreeContextBuffer(output[0].pvBuffer);
  }
  // The rest of a record comes with a later read (SECBUFFER_MISSING tells how much).
  if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS) {
    out += token;  // an alert, if the system made one
    return fail(statusText(status)), false;
  }
  haveContext_ = true;
  if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
    // The server asks for a client certificate: the same input again goes on without one.
    if (askedForCertificate_) return fail(statusText(status)), false;
    return askedForCertificate_ = callAgain_ = true;
  }
  in_ = input[1].BufferType == SECBUFFER_EXTRA
            ? in_.substr(in_.size() - std::min<size_t>(in_.size(), input[1].cbBuffer))
            : std::string();
  if (status == SEC_I_CONTINUE_NEEDED) return out += token, !in_.empty();
  // Not a byte more, not even the client's Finished, to a server that is not the one meant; after
  // a renegotiation, to one whose certificate changed.
  PCCERT_CONTEXT cert = nullptr;
  std::string why = renegotiating_ ? "" : "the server sent no certificate";
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) == SEC_E_OK && cert != nullptr) {
    const std::string der(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
    if (!renegotiating_)
      why = checkCertificate(cert, serverName_, static_cast<HCERTSTORE>(anchors_));
    else if (der != certificate_)
      why = "the server's certificate changed";
    certificate_ = der;
    ::CertFreeCertificateContext(cert);
  }
  if (why.empty() && !renegotiating_) why = versionFault();
  if (!why.empty()) return fail(why), false;
  const SECURITY_STATUS sized = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
  if (sized != SEC_E_OK || sizes_.cbMaximumMessage == 0) return fail(statusText(sized)), false;
  out += token;
  renegotiating_ = false;
  state_ = State::Up;
  return !in_.empty();
}

// Empty when the session speaks TLS 1.2 or later: the credentials ask for that, but not every
// system (Wine) holds to it.
std::string SchannelClient::versionFault() {
  SecPkgContext_ConnectionInfo info{};
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) return kOldVersion;
  constexpr DWORD kOld = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
  return (info.dwProtocol & kOld) != 0 || info.dwProtocol == 0 ? kOldVersion : "";
}

// One record decrypted; true when more may follow.
bool SchannelClient::decryptStep(std::string& plain, std::string& out) {
  if (in_.empty()) return false;
  const bool alert = in_[0] == 21;
  SecBuffer buffers[4] = {{static_cast<ULONG>(in_.size()), SECBUFFER_DATA, in_.data()}, {}, {}, {}};
  SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
  const SECURITY_STATUS status = ::DecryptMessage(&context_, &message, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
    return fail(statusText(status)), false;
  std::string extra;
  size_t data = 0;
  for (const SecBuffer& b : buffers) {
    if (b.BufferType == SECBUFFER_DATA && b.pvBuffer != nullptr)
      plain.append(static_cast<const char*>(b.pvBuffer), data = b.cbBuffer);
    if (b.BufferType == SECBUFFER_EXTRA && b.pvBuffer != nullptr)
      extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
  }
  in_ = std::move(extra);
  // The server's close_notify, answered with ours. Wine's Schannel tells it only by an alert
  // record that decrypts to nothing.
  if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && data == 0)) {
    out += closeNotify();
    state_ = State::Closed;
    return false;
  }
  // A renegotiation, or TLS 1.3's messages after the handshake (tickets, key updates): the
  // handshake call takes what follows.
  if (status == SEC_I_RENEGOTIATE) renegotiating_ = callAgain_ = true;
  return true;
}

std::string SchannelClient::encrypt(std::string_view plain) {
  if (state_ != State::Up) throw AutomationError(10053, "Connection is aborted due to timeout or other failure");
  std::string out, record;
  while (!plain.empty()) {
    const size_t n = std::min<size_t>(plain.size(), sizes_.cbMaximumMessage);
    record.assign(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
    std::copy_n(plain.data(), n, record.data() + sizes_.cbHeader);
    char* const at = record.data();
    SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, at},
                            {static_cast<ULONG>(n), SECBUFFER_DATA, at + sizes_.cbHeader},
                            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, at + sizes_.cbHeader + n},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &message, 0);
    if (status != SEC_E_OK) {
      fail(statusText(status));
      throw AutomationError(10053, "Connection is aborted due to timeout or other failure");
    }
    for (int i = 0; i < 3; ++i) out.append(static_cast<const char*>(buffers[i].pvBuffer), buffers[i].cbBuffer);
    plain.remove_prefix(n);
  }
  return out;
}

std::string SchannelClient::shutdown() {
  if (state_ != State::Up) return {};
  state_ = State::Closed;
  return closeNotify();
}

std::string SchannelClient::closeNotify() {
  std::string out;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc controls{SECBUFFER_VERSION, 1, &control};
  if (::ApplyControlToken(&context_, &controls) != SEC_E_OK) return out;
  SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outputs{SECBUFFER_VERSION, 1, &output};
  ULONG attributes = 0;
  ::InitializeSecurityContextW(&credentials_, &context_, target(), kRequest, 0, 0, nullptr, 0, nullptr, &outputs,
                               &attributes, nullptr);
  if (output.pvBuffer != nullptr) {
    out.assign(static_cast<const char*>(output.pvBuffer), output.cbBuffer);
    ::FreeContextBuffer(output.pvBuffer);
  }
  return out;
}

}  // namespace quenvar::win32
