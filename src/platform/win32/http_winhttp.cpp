#include "platform/win32/http_winhttp.h"

#include "platform/win32/windows_api.h"

#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/win32/certificate_check.h"
#include "platform/win32/utf.h"

namespace quenvar {

namespace {

using win32::narrow;
using win32::widen;
using Clock = std::chrono::steady_clock;

// A collector's answer body says nothing the client uses; more than this is not read.
constexpr size_t kMostBody = 64 * 1024;
constexpr DWORD kTls13 = 0x2000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3, newer than this SDK

// The system's words for a WinHTTP or system error, with its number.
std::string systemWords(DWORD code) {
  wchar_t* text = nullptr;
  const HMODULE winhttp = ::GetModuleHandleW(L"winhttp.dll");
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        winhttp, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = length > 0 ? narrow(std::wstring_view(text, length)) : "";
  if (text != nullptr) ::LocalFree(text);
  while (!words.empty() && std::string_view(" \r\n.").find(words.back()) != std::string_view::npos) words.pop_back();
  // Wine's WinHTTP has no words of its own.
  return words.empty() ? "WinHTTP error " + std::to_string(code) : words + " (" + std::to_string(code) + ")";
}

bool isLoopback(const std::wstring& host) {
  BYTE address[16];
  const DWORD size = win32::addressBytes(host, address);
  if (size == 4) return address[0] == 127;
  if (size == 16) return std::all_of(address, address + 15, [](BYTE b) { return b == 0; }) && address[15] == 1;
  return ::lstrcmpiW(host.c_str(), L"localhost") == 0;
}

// One request and what the status callback learns while it runs on this thread.
struct Exchange {
  HINTERNET handle = nullptr;
  bool secure = false;
  std::wstring host;
  HCERTSTORE anchors = nullptr;
  Clock::time_point deadline;
  bool checked = false;
  std::string refusal;
  DWORD secureFailure = 0;  // WINHTTP_CALLBACK_STATUS_FLAG_*, where the system tells them

  ~Exchange() {
    if (handle != nullptr) ::WinHttpCloseHandle(handle);
    if (anchors != nullptr) ::CertCloseStore(anchors, 0);
  }

  DWORD remainingMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 1, 0x7fffffff));
  }

  // Each wait gets what is left of the request's limit.
  void limitWaits() const {
    const int ms = static_cast<int>(remainingMs());
    ::WinHttpSetTimeouts(handle, ms, ms, ms, ms);
    DWORD response = remainingMs();
    ::WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response, sizeof response);
  }

  // The server's certificate held to the rules of the SMTP session: empty when it passes.
  std::string check() {
    checked = true;
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = sizeof cert;
    if (!::WinHttpQueryOption(handle, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size) || cert == nullptr)
      return "the server sent no certificate";
    std::string why = win32::checkCertificate(cert, host, anchors, remainingMs());
    ::CertFreeCertificateContext(cert);
    return why;
  }
};

// WINHTTP_CALLBACK_STATUS_SENDING_REQUEST comes once the connection (and its TLS handshake) is
// up and before the request is written: the first moment the server's certificate can be seen.
// A refused server's request is closed there, which on Windows ends the send before it begins;
// Wine 8 still writes the request line and headers, never the body (see post).
void CALLBACK onStatus(HINTERNET handle, DWORD_PTR context, DWORD status, void* information, DWORD length) {
  auto* exchange = reinterpret_cast<Exchange*>(context);
  if (exchange == nullptr || handle != exchange->handle) return;
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information != nullptr && length >= sizeof(DWORD))
    exchange->secureFailure = *static_cast<const DWORD*>(information);
  if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || !exchange->secure || !exchange->refusal.empty()) return;
  exchange->refusal = exchange->check();
  if (exchange->refusal.empty()) return;
  ::WinHttpCloseHandle(exchange->handle);
  exchange->handle = nullptr;
}

std::string failureWords(DWORD code, const HttpRequest& request, Exchange& exchange) {
  switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT: return "connection refused";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the collector's host is not known";
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // Wine's word for a silent server
      return "no answer from the collector within " + std::to_string(std::lround(request.timeoutSeconds)) + " s";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "the collector closed the connection";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED: {
      // The system refused the certificate (or the handshake): our own check says which fault
      // it has, in the words of the SMTP session, where the certificate can still be had. Wine
      // gives neither it nor the failure's flags, and 12157 for both.
      if (exchange.handle != nullptr) {
        std::string why = exchange.check();
        if (!why.empty() && why != "the server sent no certificate") return why;
      }
      if ((exchange.secureFailure & ~WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR) != 0 ||
          code != ERROR_WINHTTP_SECURE_CHANNEL_ERROR)
        return "the server's certificate is not trusted (" + systemWords(code) + ")";
      return "the TLS handshake failed (" + systemWords(code) + ")";
    }
    default: return systemWords(code);
  }
}

}  // namespace

WinHttpClient::WinHttpClient() { open(); }

WinHttpClient::~WinHttpClient() { close(); }

void WinHttpClient::open() {
  // The user's proxy as the system finds it (Windows 8.1 and later); before that, the one
  // configured for WinHTTP.
  for (const DWORD access : {DWORD{WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY}, DWORD{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY}}) {
    if ((session_ = ::WinHttpOpen(L"Quenvar", access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)) != nullptr)
      break;
  }
  if (session_ == nullptr) return;
  // TLS 1.3 where the system knows it; a session that cannot be held to 1.2 at least is none.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | kTls13;
  if (!::WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    if (!::WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) close();
  }
}

// Its connections go with it: none is kept for a later request.
void WinHttpClient::close() {
  if (connection_ != nullptr) ::WinHttpCloseHandle(connection_);
  if (session_ != nullptr) ::WinHttpCloseHandle(session_);
  connection_ = session_ = nullptr;
}

HttpAnswer WinHttpClient::post(const HttpRequest& request) {
  HttpAnswer answer;
  const auto fail = [&](std::string why) {
    answer.failure = std::move(why);
    return answer;
  };
  // A server refused (below) may have been sent the request's head over a connection the
  // session would keep for the next request to it: the session goes, and a new one starts.
  const auto refuse = [&](std::string why) {
    close();
    return fail(std::move(why));
  };
  if (session_ == nullptr) open();
  if (session_ == nullptr) return fail("HTTP cannot be set up on this machine");
  Exchange exchange;
  exchange.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(std::max(0.001, request.timeoutSeconds)));

  const std::wstring url = widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (url.find_first_of(L"\r\n") != std::wstring::npos ||
      !::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || parts.dwHostNameLength == 0)
    return fail("the collector's address " + request.url + " is no http or https URL");
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                      std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";
  exchange.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  exchange.host = host.size() > 2 && host.front() == L'[' ? host.substr(1, host.size() - 2) : host;

  if (!request.caFile.empty()) {
    std::string why;
    if ((exchange.anchors = win32::loadAnchors(request.caFile, why)) == nullptr) return fail(why);
  }
  if (connection_ == nullptr || host != host_ || parts.nPort != port_) {
    if (connection_ != nullptr) ::WinHttpCloseHandle(connection_);
    host_ = host;
    port_ = parts.nPort;
    if ((connection_ = ::WinHttpConnect(session_, host.c_str(), parts.nPort, 0)) == nullptr)
      return fail(systemWords(::GetLastError()));
  }
  exchange.handle = ::WinHttpOpenRequest(connection_, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, exchange.secure ? WINHTTP_FLAG_SECURE : 0);
  if (exchange.handle == nullptr) return fail(systemWords(::GetLastError()));
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  ::WinHttpSetOption(exchange.handle, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
  // No proxy can reach this machine's loopback, and none is asked (nor looked for) for it.
  if (isLoopback(exchange.host)) {
    WINHTTP_PROXY_INFO direct{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
    ::WinHttpSetOption(exchange.handle, WINHTTP_OPTION_PROXY, &direct, sizeof direct);
  }
  // The callback checks the name as the SMTP session does: an address only by an address
  // entry, which Wine's own check never matches. A CA file's anchors are unknown to the system:
  // it lets an unknown root pass only then, and the callback wants that root byte for byte.
  if (exchange.secure) {
    DWORD flags = SECURITY_FLAG_IGNORE_CERT_CN_INVALID | (exchange.anchors != nullptr ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0);
    ::WinHttpSetOption(exchange.handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&exchange);
  ::WinHttpSetOption(exchange.handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
  if (::WinHttpSetStatusCallback(exchange.handle, onStatus,
                                 WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK)
    return fail(systemWords(::GetLastError()));

  std::wstring headers;
  for (const auto& [name, value] : request.headers) {
    // A line break would start a header of its own.
    if ((name + value).find_first_of("\r\n") != std::string::npos) continue;
    headers += widen(name) + L": " + widen(value) + L"\r\n";
  }
  // The body follows separately, and only once the certificate passed: whatever the system does
  // after a refusal in the callback, the report never leaves for a server that is not the one
  // meant.
  exchange.limitWaits();
  const BOOL sent = ::WinHttpSendRequest(exchange.handle, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                         static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0,
                                         static_cast<DWORD>(request.body.size()), 0);
  const DWORD sendError = ::GetLastError();
  if (!exchange.refusal.empty()) return refuse(exchange.refusal);
  if (!sent) return fail(failureWords(sendError, request, exchange));
  if (exchange.secure && !exchange.checked && !(exchange.refusal = exchange.check()).empty())
    return refuse(exchange.refusal);

  for (std::string_view left = request.body; !left.empty();) {
    exchange.limitWaits();
    DWORD written = 0;
    if (!::WinHttpWriteData(exchange.handle, left.data(), static_cast<DWORD>(std::min<size_t>(left.size(), 1 << 20)),
                            &written))
      return fail(failureWords(::GetLastError(), request, exchange));
    left.remove_prefix(written);
  }
  exchange.limitWaits();
  if (!::WinHttpReceiveResponse(exchange.handle, nullptr))
    return fail(failureWords(::GetLastError(), request, exchange));

  DWORD status = 0, size = sizeof status;
  if (!::WinHttpQueryHeaders(exchange.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return fail(failureWords(::GetLastError(), request, exchange));
  answer.status = static_cast<int>(status);
  const auto header = [&](const wchar_t* name) {
    DWORD bytes = 0;
    if (::WinHttpQueryHeaders(exchange.handle, WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                              WINHTTP_NO_HEADER_INDEX) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return std::string();  // not sent
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(exchange.handle, WINHTTP_QUERY_CUSTOM, name, value.data(), &bytes,
                               WINHTTP_NO_HEADER_INDEX))
      return std::string();
    value.resize(std::min<size_t>(bytes / sizeof(wchar_t), 1024));
    return narrow(value);
  };
  answer.retryAfter = header(L"Retry-After");
  answer.rateLimits = header(L"X-Sentry-Rate-Limits");
  // Read to its end so the connection can serve the next request; a body cut short still answered.
  char chunk[8192];
  for (size_t body = 0; body <= kMostBody;) {
    exchange.limitWaits();
    DWORD read = 0;
    if (!::WinHttpReadData(exchange.handle, chunk, sizeof chunk, &read) || read == 0) break;
    body += read;
  }
  return answer;
}

}  // namespace quenvar
