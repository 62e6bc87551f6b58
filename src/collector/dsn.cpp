#include "collector/dsn.h"

#include <algorithm>
#include <charconv>

namespace quenvar::collector {

namespace {

// Keys and ids travel in a header and a URL unescaped: only what needs no escaping is taken.
bool isToken(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '~';
  });
}

bool isHost(std::string_view s) {
  if (s.size() > 2 && s.front() == '[' && s.back() == ']')
    return std::all_of(s.begin() + 1, s.end() - 1, [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
    });
  return isToken(s) && s.find('~') == std::string_view::npos && s.find('_') == std::string_view::npos;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : b);
         });
}

}  // namespace

std::optional<Dsn> parseDsn(std::string_view text) {
  Dsn dsn;
  if (startsWithNoCase(text, "https://")) {
    dsn.scheme = "https", dsn.port = 443, text.remove_prefix(8);
  } else if (startsWithNoCase(text, "http://")) {
    dsn.scheme = "http", dsn.port = 80, text.remove_prefix(7);
  } else {
    return std::nullopt;
  }
  const size_t at = text.find('@');
  const size_t slash = text.find('/');
  if (at == std::string_view::npos || slash == std::string_view::npos || at > slash) return std::nullopt;
  const std::string_view keys = text.substr(0, at);
  const size_t colon = keys.find(':');
  dsn.publicKey = keys.substr(0, colon);
  if (colon != std::string_view::npos) {
    dsn.secret = keys.substr(colon + 1);
    if (!isToken(dsn.secret)) return std::nullopt;
  }
  if (!isToken(dsn.publicKey)) return std::nullopt;

  std::string_view authority = text.substr(at + 1, slash - at - 1);
  const size_t portColon = authority.rfind(':');
  if (portColon != std::string_view::npos && authority.find(']', portColon) == std::string_view::npos) {
    const std::string_view digits = authority.substr(portColon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535)
      return std::nullopt;
    dsn.port = static_cast<uint16_t>(port);
    authority = authority.substr(0, portColon);
  }
  if (!isHost(authority)) return std::nullopt;
  dsn.host = authority;

  std::string_view path = text.substr(slash + 1);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const size_t last = path.rfind('/');
  dsn.projectId = path.substr(last == std::string_view::npos ? 0 : last + 1);
  if (!isToken(dsn.projectId)) return std::nullopt;
  if (last != std::string_view::npos) {
    const std::string_view prefix = path.substr(0, last);
    size_t start = 0;
    for (size_t end; start <= prefix.size(); start = end + 1) {
      end = std::min(prefix.find('/', start), prefix.size());
      if (!isToken(prefix.substr(start, end - start))) return std::nullopt;
    }
    dsn.path = prefix;
  }
  return dsn;
}

std::string Dsn::project() const {
  const bool usual = port == (scheme == "https" ? 443 : 80);
  return scheme + "://" + host + (usual ? "" : ":" + std::to_string(port)) + "/" + (path.empty() ? "" : path + "/") +
         projectId;
}

std::string Dsn::envelopeUrl() const {
  const std::string base = project();
  return base.substr(0, base.size() - projectId.size()) + "api/" + projectId + "/envelope/";
}

std::string Dsn::authHeader(std::string_view clientVersion) const {
  return "Sentry sentry_version=7, sentry_client=quenvar/" + std::string(clientVersion) + ", sentry_key=" + publicKey +
         (secret.empty() ? "" : ", sentry_secret=" + secret);
}

}  // namespace quenvar::collector
