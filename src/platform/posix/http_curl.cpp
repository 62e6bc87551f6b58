#include "platform/posix/http_curl.h"
#include "platform/posix/certificate_gnutls.h"

#include <curl/curl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace quenvar {

namespace {

// The system's anchors as a folder, so that a CA file adds to them rather than replacing them.
constexpr const char* kSystemAnchors = "/etc/ssl/certs";
// A collector's answer body says nothing the client uses; more than this is not read.
constexpr size_t kMostBody = 64 * 1024;

struct Exchange {
  CURL* curl = nullptr;
  HttpAnswer answer;
  size_t body = 0;
  std::string refused;  // why the request was held back after the handshake
};

// libcurl checks the chain, the name and the version but not the key's purpose: a certificate
// the CA issued for a client must not receive a report either. The handshake is over, and
// nothing of the request has left yet.
int beforeRequest(void* user, char*, char*, int, int) {
  auto& exchange = *static_cast<Exchange*>(user);
  curl_tlssessioninfo* info = nullptr;
  if (curl_easy_getinfo(exchange.curl, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || info == nullptr ||
      info->internals == nullptr)
    return CURL_PREREQFUNC_OK;  // no TLS on this connection
  if (info->backend != CURLSSLBACKEND_GNUTLS) {
    exchange.refused = "the server's certificate cannot be checked";
    return CURL_PREREQFUNC_ABORT;
  }
  const auto tls = static_cast<gnutls_session_t>(info->internals);
  if (posix::peerServesTls(tls)) return CURL_PREREQFUNC_OK;
  exchange.refused = "the server's certificate is not trusted (" + posix::peerSubject(tls) + ")";
  return CURL_PREREQFUNC_ABORT;
}

bool named(std::string_view line, std::string_view name) {
  return line.size() > name.size() && line[name.size()] == ':' &&
         std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
           return (a | 0x20) == (b | 0x20);
         });
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto& exchange = *static_cast<Exchange*>(user);
  std::string_view line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const auto value = [&](std::string_view name) {
    std::string_view v = line.substr(name.size() + 1);
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    return std::string(v.substr(0, 1024));
  };
  if (named(line, "retry-after")) exchange.answer.retryAfter = value("retry-after");
  if (named(line, "x-sentry-rate-limits")) exchange.answer.rateLimits = value("x-sentry-rate-limits");
  return size * count;
}

size_t onBody(char*, size_t size, size_t count, void* user) {
  auto& exchange = *static_cast<Exchange*>(user);
  exchange.body += size * count;
  return exchange.body > kMostBody ? 0 : size * count;
}

std::string words(CURLcode code, const HttpRequest& request, const char* detail) {
  switch (code) {
    case CURLE_COULDNT_CONNECT: return "connection refused";
    case CURLE_COULDNT_RESOLVE_HOST: return "the collector's host is not known";
    case CURLE_OPERATION_TIMEDOUT:
      return "no answer from the collector within " + std::to_string(std::lround(request.timeoutSeconds)) + " s";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE: return "the collector closed the connection";
    case CURLE_PEER_FAILED_VERIFICATION: return std::string("the server's certificate is not trusted (") + detail + ")";
    case CURLE_SSL_CACERT_BADFILE: return "the trust anchors file " + request.caFile + " cannot be read";
    case CURLE_SSL_CONNECT_ERROR: return std::string("the TLS handshake failed (") + detail + ")";
    default: return *detail != '\0' ? detail : curl_easy_strerror(code);
  }
}

}  // namespace

CurlHttpClient::CurlHttpClient() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_ = curl_easy_init();
}

CurlHttpClient::~CurlHttpClient() {
  if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
  if (pemFile_ >= 0) ::close(pemFile_);
}

// libcurl opens a CA file by its path, blocking, and this build of it takes no bytes in memory:
// it is given an in-memory copy of what was read safely. New content gets a new file, opened
// before the old one closes, so its name differs and no connection made under other anchors
// is taken again.
bool CurlHttpClient::anchors(const std::string& caFile, std::string& path, std::string& failure) {
  std::optional<std::string> pem = posix::readAnchors(caFile, failure);
  if (!pem) return false;
  if (pemFile_ < 0 || *pem != pem_) {
    const int file = ::memfd_create("quenvar-anchors", MFD_CLOEXEC);
    bool written = file >= 0;
    for (std::string_view left = *pem; written && !left.empty();) {
      const ssize_t n = ::write(file, left.data(), left.size());
      written = n > 0;
      if (written) left.remove_prefix(static_cast<size_t>(n));
    }
    if (!written) {
      if (file >= 0) ::close(file);
      failure = "the trust anchors file " + caFile + " cannot be read";
      return false;
    }
    if (pemFile_ >= 0) ::close(pemFile_);
    pemFile_ = file;
    pem_ = std::move(*pem);
  }
  path = "/proc/self/fd/" + std::to_string(pemFile_);
  return true;
}

HttpAnswer CurlHttpClient::post(const HttpRequest& request) {
  CURL* const curl = static_cast<CURL*>(curl_);
  if (curl == nullptr) return {0, "", "", "HTTP cannot be set up on this machine"};
  std::string anchorsPath, failure;
  if (!request.caFile.empty() && !anchors(request.caFile, anchorsPath, failure)) return {0, "", "", failure};
  curl_easy_reset(curl);  // the connection stays; what the last request set does not
  Exchange exchange;
  exchange.curl = curl;
  char detail[CURL_ERROR_SIZE] = "";
  curl_slist* headers = nullptr;
  for (const auto& [name, value] : request.headers) {
    // A line break would start a header of its own.
    if ((name + value).find_first_of("\r\n") != std::string::npos) continue;
    headers = curl_slist_append(headers, (name + ": " + value).c_str());
  }
  headers = curl_slist_append(headers, "Expect:");  // no wait for a 100 that may never come
  const auto ms = static_cast<long>(std::max(1.0, request.timeoutSeconds * 1000));
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, ms);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ms);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  if (!request.caFile.empty()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, anchorsPath.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, kSystemAnchors);
  }
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, beforeRequest);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  const CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (!exchange.refused.empty()) exchange.answer.failure = exchange.refused;
  else if (status > 0) exchange.answer.status = static_cast<int>(status);  // a body cut short still answered
  else exchange.answer.failure = words(code, request, detail);
  return exchange.answer;
}

}  // namespace quenvar
