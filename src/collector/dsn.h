#pragma once
// Where a collector takes reports, as its DSN names it:
// {http|https}://{public_key}[:{secret}]@{host}[:{port}][/{path}]/{project_id}

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenvar::collector {

struct Dsn {
  std::string scheme;  // "http" or "https"
  std::string publicKey;
  std::string secret;  // empty: none
  std::string host;    // an IPv6 address keeps its brackets
  uint16_t port = 0;   // the scheme's own when the DSN names none
  std::string path;    // between the host and the project id, no slash at either end
  std::string projectId;

  // The DSN without its keys: the unit that shares one outbox, one consent and one rate limit.
  std::string project() const;
  // Where envelopes are posted.
  std::string envelopeUrl() const;
  // The X-Sentry-Auth header's value for a client of `clientVersion`.
  std::string authHeader(std::string_view clientVersion) const;
};

// Nothing when `text` is not a DSN a collector could be reached by.
std::optional<Dsn> parseDsn(std::string_view text);

}  // namespace quenvar::collector
