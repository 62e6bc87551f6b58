#pragma once
// A handled error as a collector's event (Sentry's event payload), in an envelope with the
// report attached. Plain data in, bytes out: who gathers the facts and who sends them is not
// its business. Every text is held to the collector's limits here, so no report, however deep
// its stack or long its values, makes an envelope the collector refuses.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quenvar::collector {

// This component's version, as collectors see their client: sentry_client quenvar/<version>.
const char* sdkVersion();

// What a collector keeps of each part. Sizes are of the text as the event carries it, escaped,
// so that no content, however binary, takes the event past what a collector accepts.
inline constexpr size_t kMostEventBytes = 1000 * 1000;
inline constexpr size_t kMostFrames = 250;          // both ends kept
inline constexpr size_t kMostVarsPerFrame = 50;     // and facts per context
inline constexpr size_t kMostNameBytes = 256;       // a procedure's, parameter's or fact's name
inline constexpr size_t kMostValueBytes = 1024;     // a parameter's value, a fact, a tag
inline constexpr size_t kMostVarsBytes = 512 * 1024;  // every name and value of every frame together
inline constexpr size_t kMostMessageBytes = 8192;   // the description
inline constexpr size_t kMostBreadcrumbs = 100;     // the latest
inline constexpr size_t kMostReportBytes = 1 << 20;  // the attached report, from its start

struct Frame {
  std::string function;
  int32_t line = 0;  // 0: not known
  std::vector<std::pair<std::string, std::string>> vars;  // as the report shows them, masked
};

using Fact = std::variant<std::string, int64_t>;
struct Context {
  std::string name;  // "os", "device", "app", "database"
  std::vector<std::pair<std::string, Fact>> facts;
};

struct Breadcrumb {
  double timestamp = 0;  // seconds since 1970, UTC
  std::string message;
};

// A fault that ended the process: the event is fatal and its exception unhandled.
struct Fault {
  std::string mechanism;  // "signalhandler", "UnhandledExceptionFilter"
  int32_t signal = 0;     // 0: none (Windows)
  uint32_t code = 0;      // si_code, or the exception code
  std::string minidump;   // attached as the event's minidump when not empty
};

struct EventInput {
  std::string eventId;  // 32 lowercase hex digits
  double timestamp = 0;
  std::string type;   // "Error 1042"
  std::string value;  // the description
  std::vector<Frame> frames;  // outermost first
  std::string release;  // empty: none
  std::string environment;
  std::vector<Context> contexts;
  std::vector<std::pair<std::string, std::string>> tags;
  std::string userName, serverName;  // empty: not sent
  std::vector<Breadcrumb> breadcrumbs;  // oldest first
  std::string report;  // the four sections, attached as report.txt; empty: none
  std::optional<Fault> fault;
};

std::string eventJson(const EventInput& in, std::string_view sdkVersion);
// The header (the event id), the event item and the report as an attachment item. The outbox
// keeps it so; sending adds the moment with withSentAt.
std::string envelope(const EventInput& in, std::string_view sdkVersion);
// `stored` with sent_at in its header; nothing when its first line is no envelope header.
std::optional<std::string> withSentAt(std::string_view stored, double now);
// `envelope` without its attachment items; as it is when its items cannot be told apart.
std::string withoutAttachments(std::string_view envelope);

// One update of a run's release-health session (Sentry's session payload).
struct SessionUpdate {
  std::string sid;  // a UUID
  bool init = false;  // the first update the collector gets of it
  double started = 0, timestamp = 0;  // seconds since 1970, UTC
  std::string status;  // "ok", "exited", "crashed", "abnormal"
  int64_t errors = 0;
  std::string release, environment;
  std::string did;  // empty: not sent
};
// An envelope holding `update` alone.
std::string sessionEnvelope(const SessionUpdate& update);

// RFC 3339 in UTC with milliseconds: "2026-12-08T10:51:01.000Z".
std::string utcText(double secondsSince1970);

}  // namespace quenvar::collector
