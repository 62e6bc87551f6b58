#pragma once
// HTTP through the system's WinHTTP: the system's proxy, TLS 1.2 at least, the server's
// certificate checked against the system's anchors plus the request's CA file before a byte of
// the request leaves, no redirects, nothing but http and https.

#include <string>

#include "platform/http_client.h"

namespace quenvar {

class WinHttpClient : public HttpClient {
 public:
  WinHttpClient();
  ~WinHttpClient() override;
  WinHttpClient(const WinHttpClient&) = delete;
  WinHttpClient& operator=(const WinHttpClient&) = delete;

  HttpAnswer post(const HttpRequest& request) override;

 private:
  void open();
  void close();

  void* session_ = nullptr;     // HINTERNET, whose pool keeps the connection for the next request
  void* connection_ = nullptr;  // HINTERNET of the server last posted to
  std::wstring host_;
  unsigned port_ = 0;
};

class WinHttpService : public HttpService {
 public:
  std::unique_ptr<HttpClient> openClient() override { return std::make_unique<WinHttpClient>(); }
};

}  // namespace quenvar
