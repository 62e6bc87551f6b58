#pragma once
// One POST to a collector and what it answered: the status and the headers that say when to
// come back. Every wait ends within the request's limit. One client per thread; it keeps its
// connection for the next request to the same server.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenvar {

struct HttpRequest {
  std::string url;  // http:// or https://
  std::vector<std::pair<std::string, std::string>> headers;
  std::string_view body;
  std::string caFile;  // a PEM file of trust anchors added to the system's; empty: none
  double timeoutSeconds = 30;
};

struct HttpAnswer {
  int status = 0;          // 0 when no answer came
  std::string retryAfter;  // the Retry-After header, as sent
  std::string rateLimits;  // the X-Sentry-Rate-Limits header, as sent
  std::string failure;     // why no answer came, in words for a user
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpAnswer post(const HttpRequest& request) = 0;
};

class HttpService {
 public:
  virtual ~HttpService() = default;
  virtual std::unique_ptr<HttpClient> openClient() = 0;
};

}  // namespace quenvar
