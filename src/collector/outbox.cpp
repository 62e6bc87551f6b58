#include "collector/outbox.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "collector/event.h"
#include "quenvar/automation_error.h"

namespace quenvar::collector {

namespace {

constexpr const char* kRateLimit = "rate-limit";
constexpr const char* kAttachmentLimit = "attachment-limit";
constexpr const char* kSessionLimit = "session-limit";
constexpr std::string_view kSessionId = "session-";
constexpr const char* kBackoff = "backoff";
// "<count> <bytes> <oldest queued> <check>": a hint, corrected by every listing.
constexpr const char* kSize = "size";
constexpr double kFirstBackoff = 5, kLongestBackoff = 3600;
// No envelope of ours is larger: what is, is not one.
constexpr size_t kLargestEnvelope = 4 << 20;

// Names sort by the moment a report was queued: the oldest first.
std::string nameOf(double now, const std::string& eventId) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%016lld", static_cast<long long>(std::max(0.0, now) * 1000));
  return std::string(stamp) + "-" + eventId;
}

bool isSession(const std::string& name) { return name.size() > 17 && name.compare(17, kSessionId.size(), kSessionId) == 0; }

double queuedAt(const std::string& name) {
  long long millis = 0;
  std::from_chars(name.data(), name.data() + std::min<size_t>(name.size(), 16), millis);
  return static_cast<double>(millis) / 1000;
}

double number(std::string_view text, double otherwise) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end != text.data() && std::isfinite(value) && value >= 0 ? value : otherwise;
}

std::string_view field(std::string_view text, size_t index) {
  for (; index > 0 && text.find(' ') != std::string_view::npos; --index) text.remove_prefix(text.find(' ') + 1);
  return index == 0 ? text.substr(0, text.find(' ')) : std::string_view();
}

std::string seconds(double s) { return std::to_string(static_cast<long long>(std::ceil(s))) + " s"; }

}  // namespace

double limitSeconds(std::string_view header, std::string_view category) {
  double longest = 0;
  for (size_t start = 0; start <= header.size();) {
    const size_t end = std::min(header.find(',', start), header.size());
    const std::string_view limit = header.substr(start, end - start);
    start = end + 1;
    const size_t colon = limit.find(':');
    const double after = number(limit.substr(0, colon), -1);
    if (after < 0) continue;
    // Categories are the second field, ';'-separated; none means every category.
    std::string_view categories = colon == std::string_view::npos ? "" : limit.substr(colon + 1);
    categories = categories.substr(0, categories.find(':'));
    bool ours = categories.find_first_not_of(' ') == std::string_view::npos;
    for (size_t at = 0; !ours && at <= categories.size();) {
      const size_t stop = std::min(categories.find(';', at), categories.size());
      std::string_view named = categories.substr(at, stop - at);
      while (!named.empty() && named.front() == ' ') named.remove_prefix(1);
      while (!named.empty() && named.back() == ' ') named.remove_suffix(1);
      // An event without a category of its own is a "default" one.
      ours = named == category || (category == "error" && named == "default");
      at = stop + 1;
    }
    if (ours) longest = std::max(longest, after);
  }
  return std::min(longest, kLongestLimit);
}

std::string sessionReportId(const std::string& uniqueHex) { return std::string(kSessionId) + uniqueHex; }

double retryAfterSeconds(std::string_view header) { return std::min(number(header, 60), kLongestLimit); }

Outbox::Outbox(OutboxStore& store, std::string project, Clock now, Random random, Caps caps)
    : store_(store), project_(std::move(project)), now_(std::move(now)), random_(std::move(random)), caps_(caps) {}

size_t Outbox::add(const std::string& eventId, std::string_view envelope, std::string* stored) {
  const double now = now_();
  if (envelope.size() > largestEnvelope())
    throw AutomationError(err::kOutOfMemory, "the report is larger than the outbox takes (" +
                                                 std::to_string(envelope.size()) + " bytes)");
  const std::string name = nameOf(now, eventId);
  if (stored != nullptr) *stored = name;
  const std::string kept = keptSize();
  const double count = number(field(kept, 0), -1), bytes = number(field(kept, 1), -1),
               oldest = number(field(kept, 2), -1);
  if (count >= 0 && bytes >= 0 && oldest >= 0 && count + 1 <= static_cast<double>(caps_.reports) &&
      bytes + static_cast<double>(envelope.size()) <= static_cast<double>(caps_.bytes) &&
      (count == 0 || now - oldest <= caps_.days * 86400)) {
    store_.put(project_, name, envelope);
    keepSize(static_cast<size_t>(count) + 1, static_cast<uint64_t>(bytes) + envelope.size(), count == 0 ? now : oldest);
    return 0;
  }
  std::vector<OutboxStore::Entry> waiting = store_.list(project_);
  // What a killed writer left half written counts until it is swept.
  uint64_t total = envelope.size() + store_.sweep(project_, kStaleTemporary);
  for (const auto& entry : waiting) total += entry.bytes;
  size_t left = waiting.size() + 1, dropped = 0;
  std::vector<bool> gone(waiting.size());
  const auto over = [&] { return left > caps_.reports || total > caps_.bytes; };
  const auto drop = [&](size_t i) {
    // One being sent is left to its sender, and counts while it is there.
    const auto claim = store_.claim(project_, waiting[i].name);
    if (!claim) return;
    claim->remove();
    gone[i] = true;
    ++dropped;
    --left;
    total -= waiting[i].bytes;
  };
  // Past their days every report goes. Past the count or the bytes, session updates go before
  // events, oldest first: a long offline spell of short runs would otherwise push out the error
  // reports, which are worth more than a run's count.
  for (size_t i = 0; i < waiting.size(); ++i)
    if (now - queuedAt(waiting[i].name) > caps_.days * 86400 || (over() && isSession(waiting[i].name))) drop(i);
  // A session update itself is the one that goes when only events are left to make room.
  const bool queued = !(over() && isSession(name));
  if (!queued) {
    if (stored != nullptr) stored->clear();
    --left;
    total -= envelope.size();
  }
  for (size_t i = 0; i < waiting.size() && over(); ++i)
    if (!gone[i]) drop(i);
  double first = now;
  for (size_t i = 0; i < waiting.size(); ++i)
    if (!gone[i]) first = std::min(first, queuedAt(waiting[i].name));
  if (queued) store_.put(project_, name, envelope);
  keepSize(left, total, first);
  trimRejected();
  return dropped + (queued ? 0 : 1);
}

uint64_t Outbox::largestEnvelope() const { return std::min<uint64_t>(caps_.bytes, kLargestEnvelope); }

size_t Outbox::pending() { return store_.list(project_).size(); }

void Outbox::clear() {
  for (const auto& entry : store_.list(project_))
    if (auto claim = store_.claim(project_, entry.name)) claim->remove();
  for (const auto& entry : store_.listRejected(project_)) store_.removeRejected(project_, entry.name);
  keepSize(0, 0, 0);
}

uint32_t checkOf(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (const unsigned char c : text) hash = (hash ^ c) * 16777619u;
  return hash;
}

// The size is rewritten in place, so a reader may meet it half written: a check that does not
// match makes it no hint at all.
void Outbox::keepSize(size_t count, uint64_t bytes, double oldest) {
  const std::string text = std::to_string(count) + " " + std::to_string(bytes) + " " + std::to_string(oldest);
  store_.setState(project_, kSize, text + " " + std::to_string(checkOf(text)), false);
}

std::string Outbox::keptSize() {
  const std::string kept = store_.state(project_, kSize).value_or("");
  const size_t space = kept.rfind(' ');
  if (space == std::string::npos) return "";
  const std::string_view text = std::string_view(kept).substr(0, space);
  return number(std::string_view(kept).substr(space + 1), -1) == checkOf(text) ? std::string(text) : "";
}

// The reports set aside stay for someone to look at, within the same caps as those waiting.
void Outbox::trimRejected() {
  const std::vector<OutboxStore::Entry> rejected = store_.listRejected(project_);
  uint64_t total = 0;
  for (const auto& entry : rejected) total += entry.bytes;
  size_t left = rejected.size();
  const double now = now_();
  for (const auto& entry : rejected) {
    if (now - queuedAt(entry.name) <= caps_.days * 86400 && left <= caps_.reports && total <= caps_.bytes) break;
    store_.removeRejected(project_, entry.name);
    --left;
    total -= entry.bytes;
  }
}

// A moment kept in the state; one further ahead than `longest` is none of ours and is ignored.
double Outbox::stateTime(const char* key, double longest) {
  const std::string state = store_.state(project_, key).value_or("");
  const double end = number(key == std::string_view(kBackoff) ? field(state, 1) : state, 0);
  return end > now_() + longest ? 0 : end;
}

double Outbox::rateLimitEnd() { return stateTime(kRateLimit, kLongestLimit); }

double Outbox::attachmentLimitEnd() { return stateTime(kAttachmentLimit, kLongestLimit); }

double Outbox::sessionLimitEnd() { return stateTime(kSessionLimit, kLongestLimit); }

double Outbox::backoffEnd() { return stateTime(kBackoff, kLongestBackoff * 1.5); }

void Outbox::failed() {
  const std::string state = store_.state(project_, kBackoff).value_or("");
  const double failures = number(state, 0) + 1;
  // Exponential with jitter: after an outage the desktops must not all come back in one second.
  const double delay = std::min(kLongestBackoff, kFirstBackoff * std::pow(2.0, failures - 1)) * (0.5 + random_());
  store_.setState(project_, kBackoff, std::to_string(static_cast<int>(std::min(failures, 64.0))) + " " +
                                          std::to_string(now_() + delay), true);
}

void Outbox::limit(const Answer& answer) {
  double pause = limitSeconds(answer.rateLimits, "error");
  double sessions = limitSeconds(answer.rateLimits, "session");
  // A 429 that names no category of ours holds back everything.
  if (answer.status == 429 && pause == 0 && sessions == 0) pause = sessions = retryAfterSeconds(answer.retryAfter);
  if (pause > 0) store_.setState(project_, kRateLimit, std::to_string(now_() + pause), true);
  if (sessions > 0) store_.setState(project_, kSessionLimit, std::to_string(now_() + sessions), true);
  if (const double reports = limitSeconds(answer.rateLimits, "attachment"); reports > 0)
    store_.setState(project_, kAttachmentLimit, std::to_string(now_() + reports), true);
}

Outbox::Result Outbox::drain(const std::function<Answer(std::string_view)>& send, bool explicitFlush,
                             const std::function<bool()>& enough) {
  Result result;
  bool backedOff = number(store_.state(project_, kBackoff).value_or(""), 0) > 0;
  store_.sweep(project_, kStaleTemporary);
  const std::vector<OutboxStore::Entry> waiting = store_.list(project_);
  if (waiting.empty()) return result;
  // The reports queued since the last pass are made to last a power cut together, once, before
  // any leaves; one the disk cannot keep is better sent than held back.
  try {
    store_.sync(project_);
  } catch (const AutomationError&) {
  }
  for (const auto& entry : waiting) {
    if (enough && enough()) break;
    const double now = now_();
    // Each category waits out its own limit; the other's reports still go.
    if (const double limitEnd = isSession(entry.name) ? sessionLimitEnd() : rateLimitEnd(); now < limitEnd) {
      result.lastError = "HTTP 429: retry after " + seconds(limitEnd - now);
      result.limitedUntil = std::max(result.limitedUntil, limitEnd);
      continue;
    }
    if (!explicitFlush && now < backoffEnd()) break;
    const std::unique_ptr<OutboxStore::Claim> claim = store_.claim(project_, entry.name);
    if (!claim) continue;
    std::optional<std::string> envelope;
    try {
      const std::string stored = claim->read(kLargestEnvelope + 1);
      if (stored.size() <= kLargestEnvelope) envelope = withSentAt(stored, now);
    } catch (const AutomationError& e) {
      claim->reject("cannot be read: " + e.description());
      ++result.rejected;
      continue;
    }
    if (!envelope) {
      claim->reject("not an envelope");
      ++result.rejected;
      continue;
    }
    // The event still goes while the collector takes no attachments; the report stays in its
    // sections for the event's frames and contexts to stand in for.
    if (now < attachmentLimitEnd()) envelope = withoutAttachments(*envelope);
    const Answer answer = send(*envelope);
    limit(answer);
    if (answer.status >= 200 && answer.status < 300) {
      claim->remove();
      ++result.sent;
      result.lastError.clear();
      if (backedOff) store_.setState(project_, kBackoff, "0 0", true);
      backedOff = false;
      continue;
    }
    if (answer.status == 429) {
      result.lastError = "HTTP 429: retry after " + seconds(std::max(0.0, rateLimitEnd() - now_()));
      break;
    }
    if (answer.status >= 400 && answer.status < 500 && answer.status != 408) {
      // The collector will never take it: kept aside with the reason, the queue goes on.
      claim->reject("HTTP " + std::to_string(answer.status));
      ++result.rejected;
      result.lastError = "HTTP " + std::to_string(answer.status) + ": the collector refused a report";
      continue;
    }
    failed();
    result.lastError = answer.status == 0 ? answer.failure : "HTTP " + std::to_string(answer.status);
    break;
  }
  if (result.sent > 0 || result.rejected > 0) {
    const std::vector<OutboxStore::Entry> left = store_.list(project_);
    uint64_t bytes = 0;
    for (const auto& entry : left) bytes += entry.bytes;
    keepSize(left.size(), bytes, left.empty() ? 0 : queuedAt(left.front().name));
  }
  if (result.rejected > 0) trimRejected();
  return result;
}

}  // namespace quenvar::collector
