#pragma once
// HTTP through libcurl (Debian's GnuTLS build): TLS 1.2 at least, the server's certificate
// checked against the system's anchors plus the request's CA file, no redirects, nothing but
// http and https.

#include <string>

#include "platform/http_client.h"

namespace quenvar {

class CurlHttpClient : public HttpClient {
 public:
  CurlHttpClient();
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  HttpAnswer post(const HttpRequest& request) override;

 private:
  // The CA file's bytes as a file curl can name, read as the mail session reads them; false
  // with `failure` set when they cannot be.
  bool anchors(const std::string& caFile, std::string& path, std::string& failure);

  void* curl_;  // CURL*, kept so the connection serves the next request
  std::string pem_;  // the anchors last read, and the in-memory file that holds them
  int pemFile_ = -1;
};

}  // namespace quenvar

namespace quenvar {

class CurlHttpService : public HttpService {
 public:
  std::unique_ptr<HttpClient> openClient() override { return std::make_unique<CurlHttpClient>(); }
};

}  // namespace quenvar
