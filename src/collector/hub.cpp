#include "collector/hub.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <thread>

#include "collector/crash_report.h"
#include "collector/ids.h"
#include "collector/outbox.h"
#include "platform/platform.h"
#include "quenvar/automation_error.h"
#include "quenvar/sys_obj.h"

namespace quenvar::collector {

namespace {

constexpr const char* kSettingsApp = "Quenvar";
constexpr const char* kConsentSection = "Collector Consent";
// Kept in the outbox: a report waits there for the user's consent, whichever program sends it.
constexpr const char* kConsentState = "consent";
constexpr const char* kConsentRequired = "required";
// Kept in the outbox: the event id of the crash that ended the last run, "0" after a good end.
constexpr const char* kCrashedState = "crashed";
// The longest the capture's thread waits for a lock a dying thread may hold.
constexpr double kCrashLockWait = 2;
// The longest the exit handler tries for a lock a worker the system ended may have left held.
constexpr double kExitLockWait = 0.25;
// The longest a wait goes before it looks at the clock again.
constexpr double kLongestWaitStep = 60;
constexpr double kLongestRequest = 30;
// A worker that finds every waiting report held by another sender looks again this much later.
constexpr double kHeldElsewhereRetry = 5;

std::string environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

[[noreturn]] void invalidValue() { throw AutomationError(err::kInvalidPropertyValue, "Invalid property value"); }

// Recursive: of() constructs under it, and the constructor registers.
std::recursive_mutex& registryLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
// Never destroyed: a worker may still use its hub while the process ends.
std::map<Platform*, Hub*>& registry() {
  static auto* hubs = new std::map<Platform*, Hub*>;
  return *hubs;
}

// `text` with the home folder shown as the system's own name for it, wherever it stands as a
// whole folder name: a path there holds the user's login name.
std::string withoutHome(const std::string& text, const HomeFolder& home) {
  if (home.path.size() < 2) return text;  // "/" is every path
  const auto lower = [&](std::string s) {
    if (home.caseless)
      for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s;
  };
  const std::string haystack = lower(text), needle = lower(home.path);
  std::string out;
  size_t from = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) {
    const size_t end = at + needle.size();
    const char next = end < text.size() ? text[end] : '/';
    if (at < from || (next != '/' && next != '\\' && next != '"' && next != ';' && next != ' ' && next != '\r' &&
                      next != '\n' && next != '\t'))
      continue;
    out.append(text, from, at - from).append(home.shown);
    from = end;
  }
  return out.append(text, from, std::string::npos);
}

void hideHome(EventInput& event, const HomeFolder& home) {
  for (std::string* text : {&event.value, &event.report}) *text = withoutHome(*text, home);
  for (Frame& frame : event.frames)
    for (auto& [name, value] : frame.vars) value = withoutHome(value, home);
  for (Context& context : event.contexts)
    for (auto& [name, fact] : context.facts)
      if (auto* text = std::get_if<std::string>(&fact)) *text = withoutHome(*text, home);
  for (auto& [name, value] : event.tags) value = withoutHome(value, home);
}

}  // namespace

std::string outboxName(const std::string& project) {
  uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  std::string readable;
  for (const char c : project) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (readable.size() < 60) readable += plain ? c : '_';
  }
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return readable + "-" + digits;
}

Hub& Hub::of(Platform& platform) {
  const std::lock_guard held(registryLock());
  auto& hubs = registry();
  if (const auto it = hubs.find(&platform); it != hubs.end()) return *it->second;
  static const bool atExit = std::atexit([] {
    const std::unique_lock registered(registryLock(), std::try_to_lock);
    if (registered)
      for (const auto& entry : registry()) entry.second->stopAtExit();
  }) == 0;
  (void)atExit;
  return *new Hub(platform);  // registers itself; the process's own lives as long as it
}

void Hub::handlerMade(Platform& platform) {
  {
    const std::lock_guard held(registryLock());
    if (!registry().contains(&platform) && environmentVariable("SENTRY_DSN").empty()) return;
  }
  of(platform).beginSession();
}

// Never waits longer than a few tries: on Windows a worker the system ended before the DLL's
// exit handlers may have left the lock held for ever; one still running holds it only for moments,
// and a run whose end went untold would count as abnormal.
void Hub::stopAtExit() {
  std::unique_lock held(lock_, std::defer_lock);
  if (!lockWithin(held, kExitLockWait)) return;
  stopping_ = true;
  changed_.notify_all();
  const std::optional<InEffect> ending = inEffect();
  held.unlock();
  // This run ends well: the last run that ended did not crash. A runtime that ends the process
  // after abort() still unloads the DLL, whose exit handlers come here.
  if (ending && !crashedHere_ && platform_.crash != nullptr && platform_.crash->installed()) try {
      platform_.outbox->setState(ending->project, kCrashedState, "0", false);
    } catch (...) {
    }
  endSession("exited", kExitLockWait);
}

template <class Until>
void Hub::waitFor(std::unique_lock<std::mutex>& held, double seconds, Until until) {
  const double end = now() + std::max(0.0, seconds);
  for (double left = end - now(); left > 0 && !stopping_ && !until(); left = end - now())
    changed_.wait_for(held, std::chrono::duration<double>(std::min(left, kLongestWaitStep)));
}

Hub::Hub(Platform& platform) : platform_(platform) {
  const std::lock_guard held(registryLock());
  registry()[&platform] = this;
}

Hub::~Hub() {
  {
    std::unique_lock held(lock_);
    stopping_ = true;
    changed_.notify_all();
    changed_.wait(held, [this] { return !working_; });
  }
  const std::lock_guard held(registryLock());
  // Not operator[]: a hub another replaced would leave a null entry for the exit handler to call.
  if (const auto it = registry().find(&platform_); it != registry().end() && it->second == this)
    registry().erase(it);
}

double Hub::now() const {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string Hub::dsn() {
  const std::lock_guard held(lock_);
  return dsn_ ? *dsn_ : environmentVariable("SENTRY_DSN");
}

void Hub::dsn(const std::string& value) {
  if (!value.empty() && !parseDsn(value)) invalidValue();
  {
    const std::lock_guard held(lock_);
    dsn_ = value;
  }
  beginSession();
  wake();  // the new project may have reports waiting from an earlier run
}

std::string Hub::environment() {
  const std::lock_guard held(lock_);
  return environmentNow();
}

std::string Hub::environmentNow() {
  if (environment_) return *environment_;
  const std::string fromEnvironment = environmentVariable("SENTRY_ENVIRONMENT");
  return fromEnvironment.empty() ? "production" : fromEnvironment;
}

void Hub::environment(const std::string& value) {
  const std::lock_guard held(lock_);
  if (value.empty()) environment_.reset();
  else environment_ = value;
}

std::string Hub::release() {
  const std::lock_guard held(lock_);
  return release_ ? *release_ : environmentVariable("SENTRY_RELEASE");
}

void Hub::release(const std::string& value) {
  const std::lock_guard held(lock_);
  release_ = value;
}

bool Hub::releaseFromApplication() { return release().empty(); }

std::string Hub::caFile() {
  const std::lock_guard held(lock_);
  return caFile_;
}

void Hub::caFile(const std::string& value) {
  const std::lock_guard held(lock_);
  caFile_ = value;
}

bool Hub::sendUserName() {
  const std::lock_guard held(lock_);
  return sendUserName_;
}

void Hub::sendUserName(bool value) {
  const std::lock_guard held(lock_);
  sendUserName_ = value;
}

bool Hub::consentRequired() {
  const std::lock_guard held(lock_);
  return consentRequired_;
}

void Hub::consentRequired(bool value) {
  {
    const std::lock_guard held(lock_);
    consentRequired_ = value;
  }
  wake();
}

std::optional<Hub::InEffect> Hub::inEffect() {
  const std::optional<Dsn> parsed = parseDsn(dsn_ ? *dsn_ : environmentVariable("SENTRY_DSN"));
  if (!parsed || platform_.outbox == nullptr || platform_.http == nullptr) return std::nullopt;
  return InEffect{*parsed, outboxName(parsed->project())};
}

std::optional<Hub::InEffect> Hub::current() {
  const std::lock_guard held(lock_);
  return inEffect();
}

Outbox Hub::outboxOf(const std::string& project) {
  return Outbox(*platform_.outbox, project, [this] { return now(); }, randomFraction);
}

std::string Hub::storedConsent(const InEffect& target) {
  return platform_.settings->get(kSettingsApp, kConsentSection, target.dsn.project()).value_or("0");
}

bool Hub::catchCrashes() { return platform_.crash != nullptr && platform_.crash->installed(); }

void Hub::catchCrashes(bool value) {
  if (!current()) throw AutomationError(err::kInvalidCall, "Invalid procedure call or argument");
  CrashCapture* capture = platform_.crash;
  if (!value) {
    if (capture != nullptr) capture->remove();
    return;
  }
  if (capture == nullptr) throw AutomationError(err::kInvalidCall, "crash capture is not available in this build");
  remember(systemContexts(SysObj(*platform_.os, *platform_.locale), *platform_.os), "");
  const std::string user = platform_.os->userName(), host = platform_.network->host().hostName();
  {
    const std::lock_guard held(lock_);
    if (known_.userName.empty()) known_.userName = user, known_.serverName = host;
  }
  capture->install([this](const CrashFacts& facts, std::string_view minidump) { crashed(facts, minidump); });
}

void Hub::remember(std::vector<Context> contexts, const std::string& release) {
  {
    const std::lock_guard held(lock_);
    for (Context& context : contexts) {
      std::erase_if(known_.contexts, [&](const Context& c) { return c.name == context.name; });
      known_.contexts.push_back(std::move(context));
    }
    if (!release.empty()) known_.release = release;
  }
  if (!release.empty()) sessionChanged(false);
}

bool Hub::crashedLastRun() {
  const std::optional<InEffect> in = current();
  if (!in) return false;
  const std::string id = platform_.outbox->state(in->project, kCrashedState).value_or("0");
  return !id.empty() && id != "0";
}

void Hub::clearCrashedLastRun() {
  const std::optional<InEffect> in = current();
  if (!in) throw AutomationError(err::kInvalidCall, "Invalid procedure call or argument");
  platform_.outbox->setState(in->project, kCrashedState, "0", true);
}

void Hub::crashed(const CrashFacts& facts, std::string_view minidump) {
  capturing_ = true;
  // The dump of the crash just reported: the report, already kept, is replaced by one with it.
  if (reported_ && !minidump.empty() && reported_->thread == facts.thread &&
      reported_->event.type == std::string_view(facts.type, strnlen(facts.type, sizeof facts.type))) {
    EventInput event = reported_->event;
    event.fault->minidump = minidump;
    const std::string bytes = envelope(event, sdkVersion());
    Outbox outbox = outboxOf(reported_->project);
    if (bytes.size() > outbox.largestEnvelope()) return;
    platform_.outbox->put(reported_->project, reported_->name, bytes);
    platform_.outbox->sync(reported_->project);
    return;
  }
  EventInput known;
  std::unique_lock held(lock_, std::defer_lock);
  if (!lockWithin(held, kCrashLockWait)) return;  // held by the dying thread: no report rather than no end
  known = known_;
  held.unlock();
  put(crashEvent(facts, minidump, known, CrashStacks::of(facts.thread, kCrashLockWait)), true);
  if (reported_) reported_->thread = facts.thread;
  endSession("crashed", kCrashLockWait);
}

bool Hub::collecting() {
  const std::optional<InEffect> target = current();
  return target && storedConsent(*target) != "2";
}

int32_t Hub::consent() {
  const std::optional<InEffect> target = current();
  if (!target) return 0;
  const std::string stored = storedConsent(*target);
  return stored == "1" ? 1 : stored == "2" ? 2 : 0;
}

void Hub::consent(int32_t value) {
  const std::optional<InEffect> target = current();
  if (!target) throw AutomationError(err::kInvalidCall, "Invalid procedure call or argument");
  if (value < 0 || value > 2) invalidValue();
  if (value == 0) platform_.settings->remove(kSettingsApp, kConsentSection, target->dsn.project());
  else platform_.settings->save(kSettingsApp, kConsentSection, target->dsn.project(), std::to_string(value));
  if (value == 2) {
    // Refused: what waits is not kept either, nor what was set aside.
    dropSession();
    outboxOf(target->project).clear();
  } else {
    beginSession();
  }
  wake();
}

bool Hub::sendingAllowed(const InEffect& target) {
  const std::string stored = storedConsent(target);
  if (stored == "1") return true;
  if (stored == "2") return false;
  {
    const std::lock_guard held(lock_);
    if (consentRequired_) return false;
  }
  return platform_.outbox->state(target.project, kConsentState).value_or("") != kConsentRequired;
}

int32_t Hub::pending() {
  const std::optional<InEffect> target = current();
  if (!target) return 0;
  return static_cast<int32_t>(platform_.outbox->list(target->project).size());
}

std::string Hub::lastError() {
  const std::lock_guard held(lock_);
  return lastError_;
}

std::string Hub::queue(EventInput event) {
  std::string id = put(std::move(event), false);
  if (!id.empty()) sessionChanged(true);
  return id;
}

std::string Hub::put(EventInput event, bool fatal) {
  std::optional<InEffect> target;
  bool named = false;
  {
    const std::lock_guard held(lock_);
    target = inEffect();
    if (!target) return {};
    event.eventId = randomHex();
    if (std::string configured = configuredRelease(); !configured.empty()) event.release = std::move(configured);
    if (!fatal && !event.release.empty() && known_.release.empty()) known_.release = event.release;
    if (!fatal && platform_.crash != nullptr && platform_.crash->installed()) {
      known_.contexts = event.contexts;
      if (!event.release.empty()) known_.release = event.release;
      known_.userName = event.userName;
      known_.serverName = event.serverName;
    }
    if (!sendUserName_) event.userName.clear(), event.serverName.clear();
    named = sendUserName_;
  }
  if (!named) hideHome(event, platform_.os->homeFolder());
  event.environment = environment();
  try {
    if (!mayKeep(*target, consentRequired())) return {};
    Outbox outbox = outboxOf(target->project);
    event.timestamp = now();
    std::string bytes = envelope(event, sdkVersion());
    // A crash's dump larger than the outbox takes: the crash is still told, without it.
    if (fatal && event.fault && bytes.size() > outbox.largestEnvelope()) {
      event.fault->minidump.clear();
      bytes = envelope(event, sdkVersion());
    }
    std::string stored;
    if (const size_t dropped = outbox.add(event.eventId, bytes, &stored)) {
      const std::lock_guard held(lock_);
      lastError_ = std::to_string(dropped) + " waiting report" + (dropped == 1 ? "" : "s") +
                   " dropped: the outbox was full";
    }
    if (fatal) {
      crashedHere_ = true;
      reported_ = Reported{event, target->project, stored, 0};
      platform_.outbox->sync(target->project);
      platform_.outbox->setState(target->project, kCrashedState, event.eventId, true);
      return event.eventId;
    }
  } catch (const AutomationError& e) {
    const std::lock_guard held(lock_);
    lastError_ = "the report could not be queued: " + e.description();
    return {};
  }
  wake();
  return event.eventId;
}

int32_t Hub::flush(int32_t timeoutMs) {
  const std::optional<InEffect> target = current();
  if (!target) return 0;
  const double deadline = now() + std::max(0, timeoutMs) / 1000.0;
  if (sendingAllowed(*target)) {
    Outbox outbox = outboxOf(target->project);
    // A rate limit is waited out only when it ends in time; nothing is sent while it holds.
    const double limitEnd = outbox.rateLimitEnd();
    if (limitEnd > now() && limitEnd <= deadline) {
      std::unique_lock held(lock_);
      waitFor(held, limitEnd - now(), [] { return false; });
    }
    // What is left after a pass that failed nothing is held by another sender, this process's
    // worker among them: waited for, looking again now and then, until the time is up.
    const std::unique_ptr<HttpClient> client = platform_.http->openClient();
    for (Pass pass;
         !(pass = drainOnce(*target, *client, true, deadline)).failed && pass.left > 0 && now() < deadline;) {
      std::unique_lock held(lock_);
      waitFor(held, std::min(0.05, deadline - now()), [] { return false; });
      if (stopping_) break;
    }
    // Returned only once the worker is between passes too: a client that exits right after
    // Flush then ends no thread of ours in the middle of a file or socket call (Wine's process
    // exit, killing a thread in the middle of fetching a file's descriptor, leaves it for the
    // next fetch, which our exit handler makes, and fails an assertion).
    std::unique_lock held(lock_);
    waitFor(held, deadline - now(), [this] { return !working_ || resting_; });
  }
  return pending();
}

Hub::Pass Hub::drainOnce(const InEffect& target, HttpClient& client, bool explicitFlush, double deadline) {
  Outbox outbox = outboxOf(target.project);
  const std::string url = target.dsn.envelopeUrl();
  const std::string auth = target.dsn.authHeader(sdkVersion());
  const std::string anchors = caFile();
  const auto send = [&](std::string_view envelope) {
    const double timeout = std::max(0.001, std::min(kLongestRequest, deadline - now()));
    return client.post({url,
                         {{"Content-Type", "application/x-sentry-envelope"}, {"X-Sentry-Auth", auth}},
                         envelope,
                         anchors,
                         timeout});
  };
  const Outbox::Result result = outbox.drain(send, explicitFlush, [&] {
    const std::lock_guard held(lock_);
    return stopping_ || capturing_ || now() >= deadline;
  });
  if (result.sent > 0 || result.rejected > 0 || !result.lastError.empty()) {
    const std::lock_guard held(lock_);
    lastError_ = result.lastError;
  }
  return {!result.lastError.empty(), outbox.pending(), result.limitedUntil};
}

void Hub::wake() {
  const std::lock_guard held(lock_);
  if (stopping_) return;
  if (working_) {
    wakeAgain_ = true;
    changed_.notify_all();
    return;
  }
  working_ = true;
  try {
    // The worker's connection is made here, on the caller's thread, while no worker runs: the
    // HTTP library's one-time set-up (natively libcurl's, which sets up OpenSSL for libssh2 and
    // registers its exit handler) would otherwise run on the worker, racing the exit of a short
    // process, and crash in what that exit had already torn down.
    if (!workerClient_) workerClient_ = platform_.http->openClient();
  } catch (...) {
  }
  try {
    platform_.module->runDetached([this] { work(); });
  } catch (...) {
    working_ = false;  // no thread to spare: the next report or Flush tries again
  }
}

void Hub::work() {
  for (;;) {
    std::optional<InEffect> target;
    {
      const std::lock_guard held(lock_);
      wakeAgain_ = false;
      target = stopping_ || capturing_ ? std::nullopt : inEffect();
    }
    bool more = false;
    double due = 0;
    try {
      if (target && sendingAllowed(*target)) {
        Outbox outbox = outboxOf(target->project);
        // While the backoff after a failure holds, nothing would be sent: its end is waited for
        // without listing the outbox again for every report queued meanwhile.
        if (const double backoffEnd = outbox.backoffEnd(); backoffEnd > now()) {
          more = true;
          due = std::max(outbox.rateLimitEnd(), backoffEnd);
        } else {
          // One connection for every worker of the process: a pass over https pays no handshake again.
          if (!workerClient_) workerClient_ = platform_.http->openClient();
          const Pass pass = drainOnce(*target, *workerClient_, false, std::numeric_limits<double>::infinity());
          more = pass.left > 0;
          due = std::max({outbox.rateLimitEnd(), outbox.backoffEnd(), pass.limitedUntil,
                          now() + (more ? kHeldElsewhereRetry : 0)});
        }
      }
    } catch (const AutomationError& e) {
      const std::lock_guard held(lock_);
      lastError_ = e.description();
      more = false;
    }
    std::unique_lock held(lock_);
    if (!more && !wakeAgain_) break;
    if (more) {
      resting_ = true;
      changed_.notify_all();
      waitFor(held, due - now(), [this] { return wakeAgain_; });
      resting_ = false;
    }
    if (stopping_) break;
  }
  const std::lock_guard held(lock_);
  working_ = false;
  changed_.notify_all();
}

std::string Hub::configuredRelease() {
  if (release_ && !release_->empty()) return *release_;
  return environmentVariable("SENTRY_RELEASE");
}

bool Hub::mayKeep(const InEffect& target, bool consentRequired) {
  const std::string consent = storedConsent(target);
  if (consent == "2") return false;
  if (consent != "1" && consentRequired &&
      platform_.outbox->state(target.project, kConsentState).value_or("") != kConsentRequired)
    platform_.outbox->setState(target.project, kConsentState, kConsentRequired, true);
  return true;
}

bool Hub::lockWithin(std::unique_lock<std::mutex>& held, double seconds) {
  for (const double end = now() + seconds; !held.try_lock();) {
    if (now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace quenvar::collector
