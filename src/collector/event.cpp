#include "collector/event.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace quenvar::collector {

namespace {

using nlohmann::json;

// At most `most` bytes, cut where a UTF-8 sequence begins.
std::string clipped(std::string_view text, size_t most) {
  if (text.size() <= most) return std::string(text);
  size_t end = most;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

// Bytes that are not UTF-8 become U+FFFD rather than failing the whole event.
std::string dumped(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// The bytes `text` takes in the event: quoted, escaped, anything not UTF-8 replaced.
size_t carried(std::string_view text) { return dumped(json(std::string(text))).size(); }

// At most `most` bytes as the event carries it (its quotes aside). An escape takes up to six
// bytes for one: the cut shrinks until the escaped text fits.
std::string fitted(std::string_view text, size_t most) {
  std::string out = clipped(text, most);
  for (size_t size = carried(out); size > most + 2;) {
    out = clipped(out, out.size() * most / size);
    size = carried(out);
  }
  return out;
}

json frameJson(const Frame& frame, bool innermost, size_t& varsBudget) {
  json out = {{"function", fitted(frame.function, kMostNameBytes)}, {"in_app", true}};
  if (innermost && frame.line != 0) out["lineno"] = frame.line;
  json vars = json::object();
  for (size_t i = 0; i < frame.vars.size() && i < kMostVarsPerFrame; ++i) {
    std::string name = fitted(frame.vars[i].first, kMostNameBytes);
    const size_t named = carried(name) + 2;  // with its colon and comma
    if (named + 4 >= varsBudget) break;
    std::string value = fitted(frame.vars[i].second, std::min(kMostValueBytes, varsBudget - named - 2));
    varsBudget -= named + carried(value);
    vars[std::move(name)] = std::move(value);
  }
  if (!vars.empty()) out["vars"] = std::move(vars);
  return out;
}

// The innermost frames have the budget first: they are nearest the error.
json stacktraceJson(const std::vector<Frame>& frames) {
  const size_t n = frames.size();
  const size_t kept = std::min(n, kMostFrames);
  const size_t head = kept / 2, tail = kept - head;
  std::vector<json> out(kept);
  size_t budget = kMostVarsBytes;
  for (size_t k = 0; k < kept; ++k) {
    const size_t slot = kept - 1 - k;  // from the innermost
    const size_t index = slot < head ? slot : n - (kept - slot);
    out[slot] = frameJson(frames[index], index == n - 1, budget);
  }
  json stack = {{"frames", std::move(out)}};
  if (n > kept) stack["frames_omitted"] = {head, n - tail};
  return stack;
}

json factJson(const Fact& fact) {
  if (const auto* text = std::get_if<std::string>(&fact)) return fitted(*text, kMostValueBytes);
  return std::get<int64_t>(fact);
}

}  // namespace

const char* sdkVersion() { return QUENVAR_VERSION; }

std::string utcText(double secondsSince1970) {
  const auto millis = static_cast<int64_t>(std::floor(secondsSince1970 * 1000 + 0.5));
  const int64_t seconds = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t inDay = seconds - days * 86400;
  // Days to a civil date (the proleptic Gregorian calendar), as in H. Hinnant's algorithm.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(inDay / 3600),
                static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60),
                static_cast<long long>(millis - seconds * 1000));
  return text;
}

std::string eventJson(const EventInput& in, std::string_view sdkVersion) {
  json mechanism = {{"type", "quenvar"}, {"handled", true}};
  if (in.fault) {
    mechanism = {{"type", in.fault->mechanism}, {"handled", false}};
    if (in.fault->signal != 0)
      // si_code is signed: a signal sent by kill or abort carries a negative one.
      mechanism["meta"] = {{"signal", {{"number", in.fault->signal},
                                       {"code", static_cast<int32_t>(in.fault->code)},
                                       {"name", in.type}}}};
    else
      mechanism["meta"] = {{"exception", {{"code", in.fault->code}, {"name", in.type}}}};
  }
  json exception = {{"type", fitted(in.type, kMostValueBytes)},
                    {"value", fitted(in.value, kMostMessageBytes)},
                    {"mechanism", std::move(mechanism)}};
  if (!in.frames.empty()) exception["stacktrace"] = stacktraceJson(in.frames);
  json event = {{"event_id", in.eventId},
                {"timestamp", in.timestamp},
                {"platform", "native"},
                {"level", in.fault ? "fatal" : "error"},
                {"logger", "quenvar"},
                {"environment", fitted(in.environment, kMostValueBytes)},
                {"sdk", {{"name", "quenvar"}, {"version", std::string(sdkVersion)}}},
                {"exception", {{"values", json::array({std::move(exception)})}}}};
  if (!in.release.empty()) event["release"] = fitted(in.release, kMostValueBytes);
  json contexts = json::object();
  for (const Context& context : in.contexts) {
    json facts = json::object();
    for (size_t i = 0; i < context.facts.size() && i < kMostVarsPerFrame; ++i)
      facts[fitted(context.facts[i].first, kMostNameBytes)] = factJson(context.facts[i].second);
    contexts[fitted(context.name, kMostNameBytes)] = std::move(facts);
  }
  if (!contexts.empty()) event["contexts"] = std::move(contexts);
  json tags = json::object();
  for (const auto& [key, value] : in.tags) tags[fitted(key, 32)] = fitted(value, 200);
  if (!tags.empty()) event["tags"] = std::move(tags);
  if (!in.userName.empty()) event["user"] = {{"username", fitted(in.userName, kMostValueBytes)}};
  if (!in.serverName.empty()) event["server_name"] = fitted(in.serverName, kMostValueBytes);
  if (!in.breadcrumbs.empty()) {
    json crumbs = json::array();
    const size_t first = in.breadcrumbs.size() - std::min(in.breadcrumbs.size(), kMostBreadcrumbs);
    for (size_t i = first; i < in.breadcrumbs.size(); ++i)
      crumbs.push_back({{"timestamp", in.breadcrumbs[i].timestamp},
                        {"category", "procedure"},
                        {"message", fitted(in.breadcrumbs[i].message, kMostNameBytes)}});
    event["breadcrumbs"] = {{"values", std::move(crumbs)}};
  }
  std::string out = dumped(event);
  // The parts' limits add up to less; should they not, the event still goes, without the values.
  if (out.size() > kMostEventBytes && event["exception"]["values"][0].contains("stacktrace")) {
    for (json& frame : event["exception"]["values"][0]["stacktrace"]["frames"]) frame.erase("vars");
    event.erase("breadcrumbs");
    out = dumped(event);
  }
  return out;
}

std::string envelope(const EventInput& in, std::string_view sdkVersion) {
  const std::string event = eventJson(in, sdkVersion);
  std::string out = dumped({{"event_id", in.eventId}}) + "\n" +
                    dumped({{"type", "event"}, {"length", event.size()}, {"content_type", "application/json"}}) +
                    "\n" + event + "\n";
  const auto attach = [&](std::string_view bytes, json header) {
    header["type"] = "attachment";
    header["length"] = bytes.size();
    out.append(dumped(header)).append("\n").append(bytes).append("\n");
  };
  if (!in.report.empty() || !in.fault)
    attach(clipped(in.report, kMostReportBytes), {{"filename", "report.txt"}, {"content_type", "text/plain"}});
  if (in.fault && !in.fault->minidump.empty())
    attach(in.fault->minidump, {{"filename", "minidump.dmp"},
                                {"content_type", "application/octet-stream"},
                                {"attachment_type", "event.minidump"}});
  return out;
}

std::string sessionEnvelope(const SessionUpdate& update) {
  json session = {{"sid", update.sid},
                  {"init", update.init},
                  {"started", utcText(update.started)},
                  {"timestamp", utcText(update.timestamp)},
                  {"duration", std::max(0.0, update.timestamp - update.started)},
                  {"status", update.status},
                  {"errors", update.errors},
                  {"attrs", {{"release", fitted(update.release, kMostNameBytes)},
                             {"environment", fitted(update.environment, kMostNameBytes)}}}};
  if (!update.did.empty()) session["did"] = fitted(update.did, kMostNameBytes);
  const std::string payload = dumped(session);
  return "{}\n" + dumped({{"type", "session"}, {"length", payload.size()}}) + "\n" + payload + "\n";
}

std::optional<std::string> withSentAt(std::string_view stored, double now) {
  const size_t end = stored.find('\n');
  json header = json::parse(stored.substr(0, end), nullptr, false);
  if (header.is_discarded() || !header.is_object() || end == std::string_view::npos) return std::nullopt;
  header["sent_at"] = utcText(now);
  return dumped(header) + std::string(stored.substr(end));
}

std::string withoutAttachments(std::string_view envelope) {
  size_t at = envelope.find('\n');
  if (at == std::string_view::npos) return std::string(envelope);
  std::string out(envelope.substr(0, ++at));
  while (at < envelope.size()) {
    const size_t end = std::min(envelope.find('\n', at), envelope.size());
    const json item = json::parse(envelope.substr(at, end - at), nullptr, false);
    if (!item.is_object() || !item.contains("length") || !item["length"].is_number_unsigned())
      return std::string(envelope);
    const size_t length = item["length"].get<size_t>();
    if (end + 1 > envelope.size() || length > envelope.size() - end - 1) return std::string(envelope);
    const size_t next = std::min(end + 1 + length + 1, envelope.size());  // its payload and line end
    const bool attachment = item.contains("type") && item["type"] == "attachment";
    if (!attachment) out.append(envelope.substr(at, next - at));
    at = next;
  }
  return out;
}

}  // namespace quenvar::collector
