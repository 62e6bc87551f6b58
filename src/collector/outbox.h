#pragma once
// The reports of one collector project waiting to be sent, over the user's outbox store: what
// each answer of the collector does to a report, the caps that bound an outage, and the backoff
// and rate limits every process of the user obeys, kept in the store beside the reports.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/http_client.h"
#include "platform/outbox_store.h"

namespace quenvar::collector {

// What came back for one envelope.
using Answer = HttpAnswer;

struct Caps {
  size_t reports = 100;
  uint64_t bytes = 20 << 20;
  double days = 30;
};

class Outbox {
 public:
  using Clock = std::function<double()>;  // seconds since 1970
  using Random = std::function<double()>;  // in [0, 1)

  Outbox(OutboxStore& store, std::string project, Clock now, Random random, Caps caps = {});

  // Queues an envelope; the oldest reports go first when the caps would be passed, session
  // updates before events. Returns how many went, a session update not queued among them (then
  // `stored` is empty). One the caps cannot hold is refused alone (AutomationError). The folder
  // is listed only when the count and size kept in the state say the caps are reached.
  size_t add(const std::string& eventId, std::string_view envelope, std::string* stored = nullptr);
  size_t pending();
  // The largest envelope add takes.
  uint64_t largestEnvelope() const;
  // Every report, those set aside as rejected too, gone.
  void clear();
  // When the next send may go: the end of a rate limit, or of the backoff after failures, which
  // an explicit flush need not wait out.
  double rateLimitEnd();
  double attachmentLimitEnd();  // until then events go without their report
  double sessionLimitEnd();  // until then session updates wait, events still go
  double backoffEnd();

  struct Result {
    size_t sent = 0, rejected = 0;
    std::string lastError;  // empty when the last send went through
    double limitedUntil = 0;  // the latest end of a rate limit that held a report back
  };
  // Sends what waits, oldest first, until nothing does, a send finds no answer, the collector
  // asks for a pause or `enough` says so. Reports another thread or process holds are left to it.
  Result drain(const std::function<Answer(std::string_view envelope)>& send, bool explicitFlush,
               const std::function<bool()>& enough = {});

 private:
  void failed();
  void limit(const Answer& answer);
  double stateTime(const char* key, double longest);
  void keepSize(size_t count, uint64_t bytes, double oldest);
  // The size kept by the last writer, "" when none or half written.
  std::string keptSize();
  void trimRejected();

  OutboxStore& store_;
  std::string project_;
  Clock now_;
  Random random_;
  Caps caps_;
};

// The longest a collector may hold us back; a longer limit, from an answer or a stored state, is
// no collector's and is cut to it or ignored.
inline constexpr double kLongestLimit = 86400;
// A temporary older than this was left by a writer that died.
inline constexpr double kStaleTemporary = 600;

// A check of a state's text, which a state rewritten in place carries so that a reader can tell
// it half written.
uint32_t checkOf(std::string_view text);

// The id a session update is queued under: its reports wait for the session rate limit.
std::string sessionReportId(const std::string& uniqueHex);

// The seconds an X-Sentry-Rate-Limits header holds a category back ("error": events,
// "attachment": their reports, "session": session updates; 0: none), and a Retry-After
// header's seconds (60 when it is no number), each at most kLongestLimit.
double limitSeconds(std::string_view header, std::string_view category);
double retryAfterSeconds(std::string_view header);

}  // namespace quenvar::collector
