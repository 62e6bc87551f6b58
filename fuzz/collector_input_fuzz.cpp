// What the collector reads from others: an envelope file from the outbox folder, a collector's
// rate-limit headers, a DSN from the environment. None of them can crash the host, and what is
// made of them keeps its shape: a DSN taken is one a collector could be reached by, an envelope
// without attachments is no longer than before and stays so when cut again.

#include <cmath>
#include <cstdint>
#include <string>

#include "collector/dsn.h"
#include "collector/event.h"
#include "collector/outbox.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quenvar::collector;
  quenvar::fuzz::Input in(data, size);
  const uint8_t which = in.byte();
  const std::string text(in.rest());
  switch (which % 3) {
    case 0: {
      if (const auto sent = withSentAt(text, 1796727061.25)) {
        if (sent->find("\"sent_at\":\"2026-12-08T10:51:01.250Z\"") == std::string::npos) __builtin_trap();
        if (sent->substr(sent->find('\n')) != text.substr(text.find('\n'))) __builtin_trap();
      }
      const std::string alone = withoutAttachments(text);
      if (alone.size() > text.size() || withoutAttachments(alone) != alone) __builtin_trap();
      break;
    }
    case 1:
      for (const char* category : {"error", "attachment"}) {
        const double s = limitSeconds(text, category);
        if (!(s >= 0) || std::isnan(s)) __builtin_trap();
      }
      if (!(retryAfterSeconds(text) >= 0)) __builtin_trap();
      break;
    default:
      if (const auto dsn = parseDsn(text)) {
        if ((dsn->scheme != "http" && dsn->scheme != "https") || dsn->port == 0 || dsn->host.empty() ||
            dsn->publicKey.empty() || dsn->projectId.empty())
          __builtin_trap();
        const auto again = parseDsn(dsn->scheme + "://" + dsn->publicKey + "@" + dsn->project().substr(dsn->scheme.size() + 3));
        if (!again || again->envelopeUrl() != dsn->envelopeUrl() || again->project() != dsn->project()) __builtin_trap();
        if (dsn->envelopeUrl().find_first_of("\r\n ") != std::string::npos) __builtin_trap();
      }
  }
  return 0;
}
