// Each run of the process as one release-health session of the hub: begun when the collector
// comes into effect, told when its release is known and at its end, its state kept in the outbox
// so that the next run can tell one that vanished.

#include "collector/hub.h"

#include <atomic>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "collector/ids.h"
#include "collector/outbox.h"
#include "platform/platform.h"
#include "quenvar/automation_error.h"

namespace quenvar::collector {

namespace {

// A running session's state is "session-<host>-<pid>-<process start>-<n>": whether its process
// still runs is told from the name alone, so a state a power cut left half written is still
// known for a vanished run's. The host keeps apart the runs of machines sharing one home.
constexpr const char* kSessionState = "session-";
std::atomic<uint64_t> sessionsMade{0};

std::string hostTag(const std::string& hostName) {
  char tag[9];
  std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(checkOf(hostName)));
  return tag;
}

std::string sessionKey(const std::string& host, const ProcessMark& self) {
  return kSessionState + hostTag(host) + "-" + std::to_string(self.pid) + "-" + std::to_string(self.started) + "-" +
         std::to_string(++sessionsMade);
}

// The process a session's state names, when it is this host's.
std::optional<ProcessMark> processOf(const std::string& key, const std::string& host) {
  const std::string ours = kSessionState + hostTag(host) + "-";
  if (!key.starts_with(ours)) return std::nullopt;
  long long pid = 0;
  unsigned long long started = 0;
  if (std::sscanf(key.c_str() + ours.size(), "%lld-%llu-", &pid, &started) != 2 || pid <= 0) return std::nullopt;
  return ProcessMark{pid, started};
}

}  // namespace

bool Hub::trackSessions() {
  const std::lock_guard held(lock_);
  return trackSessions_;
}

void Hub::trackSessions(bool value) {
  {
    const std::lock_guard held(lock_);
    trackSessions_ = value;
  }
  if (value) beginSession();
  else dropSession();
}

std::string Hub::sessionRelease() {
  std::string configured = configuredRelease();
  return configured.empty() ? known_.release : configured;
}

void Hub::beginSession() {
  std::optional<InEffect> target;
  {
    const std::lock_guard held(lock_);
    if (!trackSessions_ || session_ || stopping_) return;
    target = inEffect();
  }
  if (!target || platform_.os == nullptr) return;
  try {
    if (storedConsent(*target) == "2") return;
    const ProcessMark self = platform_.os->thisProcess();
    const std::string host = platform_.network != nullptr ? platform_.network->host().hostName() : "";
    Session session;
    session.target = *target;
    session.sid = uuid();
    session.started = session.timestamp = now();
    if (self.pid > 0) session.key = sessionKey(host, self);
    session.userName = platform_.os->userName();
    {
      const std::lock_guard held(lock_);
      if (!trackSessions_ || session_ || stopping_) return;
      session_ = session;
    }
    keepSessionState(session);
    sessionChanged(false);  // told at once when the release is known
    tellVanished(*target, host);
  } catch (const AutomationError& e) {
    const std::lock_guard held(lock_);
    lastError_ = "the session could not be kept: " + e.description();
  }
}

void Hub::sessionChanged(bool error) {
  Session session;
  bool announce = false, required = false;
  {
    const std::lock_guard held(lock_);
    if (!session_) return;
    if (session_->release.empty()) session_->release = sessionRelease();
    announce = !session_->announced && !session_->release.empty();
    if (!error && !announce) return;
    if (error) ++session_->errors;
    if (announce) {
      session_->announced = true;
      session_->environment = environmentNow();
      session_->did = sendUserName_ ? session_->userName : "";
    }
    session_->timestamp = now();
    session = *session_;
    required = consentRequired_;
  }
  try {
    if (announce) {
      const std::string name = queueSession(session, "ok", true, After::wake, required);
      // Not queued (a full outbox keeps its events): the next change or the end begins it.
      session.announced = !name.empty();
      const std::lock_guard held(lock_);
      if (session_ && session_->sid == session.sid) session_->announcedAs = name, session_->announced = session.announced;
    }
    keepSessionState(session);
  } catch (const AutomationError& e) {
    const std::lock_guard held(lock_);
    lastError_ = "the session could not be kept: " + e.description();
  }
}

void Hub::endSession(const char* status, double lockWait) {
  std::unique_lock held(lock_, std::defer_lock);
  // Not had: the process ends all the same, and the next run tells the session as abnormal.
  if (!lockWithin(held, lockWait)) return;
  if (!session_) return;
  Session session = std::move(*session_);
  session_.reset();
  const bool crashed = std::string_view(status) == "crashed";
  if (crashed) ++session.errors;
  if (session.release.empty()) session.release = sessionRelease();
  if (!session.announced) {
    session.environment = environmentNow();
    session.did = sendUserName_ ? session.userName : "";
  }
  session.timestamp = now();
  const bool required = consentRequired_;
  held.unlock();
  try {
    bool init = !session.announced;
    // A first update still waiting (a short run, or one offline) goes as one with the end.
    if (!init && !session.announcedAs.empty())
      if (const auto waiting = platform_.outbox->claim(session.target.project, session.announcedAs)) {
        waiting->remove();
        init = true;
      }
    // The process is ending: no worker is woken, the update goes with the next run.
    queueSession(session, status, init, crashed ? After::sync : After::nothing, required);
    if (!session.key.empty()) platform_.outbox->removeState(session.target.project, session.key);
  } catch (...) {
  }
}

void Hub::dropSession() {
  std::optional<Session> session;
  {
    const std::lock_guard held(lock_);
    session.swap(session_);
  }
  if (session && !session->key.empty()) try {
      platform_.outbox->removeState(session->target.project, session->key);
    } catch (...) {
    }
}

void Hub::keepSessionState(const Session& session) {
  if (session.key.empty()) return;
  const std::string text = nlohmann::json{{"sid", session.sid},
                                          {"started", session.started},
                                          {"timestamp", session.timestamp},
                                          {"errors", session.errors},
                                          {"init", session.announced},
                                          {"release", session.release},
                                          {"environment", session.environment},
                                          {"did", session.did}}
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // Rewritten in place: an abnormal end is to keep the count, a power cut may take it.
  platform_.outbox->setState(session.target.project, session.key, text + "\n" + std::to_string(checkOf(text)), false);
}

std::optional<Hub::Session> Hub::sessionFrom(const std::string& state) {
  const size_t line = state.rfind('\n');
  if (line == std::string::npos) return std::nullopt;
  const std::string text = state.substr(0, line);
  if (state.substr(line + 1) != std::to_string(checkOf(text))) return std::nullopt;
  const nlohmann::json kept = nlohmann::json::parse(text, nullptr, false);
  try {
    Session session;
    session.sid = kept.at("sid").get<std::string>();
    session.started = kept.at("started").get<double>();
    session.timestamp = kept.at("timestamp").get<double>();
    session.errors = kept.at("errors").get<int64_t>();
    session.announced = kept.at("init").get<bool>();
    session.release = kept.at("release").get<std::string>();
    session.environment = kept.at("environment").get<std::string>();
    session.did = kept.at("did").get<std::string>();
    return session;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

std::string Hub::queueSession(const Session& session, const char* status, bool init, After after,
                              bool consentRequired) {
  // The collector drops a session without a release: one that never learnt it is not told.
  if (session.release.empty() || !mayKeep(session.target, consentRequired)) return {};
  SessionUpdate update{session.sid,   init,           session.started,     session.timestamp, status,
                       session.errors, session.release, session.environment, session.did};
  Outbox outbox = outboxOf(session.target.project);
  std::string name;
  if (const size_t dropped =
          outbox.add(sessionReportId(randomHex()), sessionEnvelope(update), &name);
      dropped > 0 && after == After::wake) {
    const std::lock_guard held(lock_);
    lastError_ = name.empty() ? "a session update was not kept: the outbox was full of reports"
                              : std::to_string(dropped) + " waiting report" + (dropped == 1 ? "" : "s") +
                                    " dropped: the outbox was full";
  }
  if (after == After::sync) platform_.outbox->sync(session.target.project);
  if (after == After::wake) wake();
  return name;
}

void Hub::tellVanished(const InEffect& target, const std::string& host) {
  bool required = false;
  {
    const std::lock_guard held(lock_);
    required = consentRequired_;
  }
  for (const std::string& key : platform_.outbox->stateKeys(target.project, kSessionState)) {
    const std::optional<ProcessMark> process = processOf(key, host);
    if (!process || platform_.os->running(*process)) continue;
    const std::optional<std::string> state = platform_.outbox->state(target.project, key);
    // Of several runs that found it, the one that removed it tells it.
    if (!platform_.outbox->removeState(target.project, key)) continue;
    std::optional<Session> gone = state ? sessionFrom(*state) : std::nullopt;
    if (!gone) continue;  // half written when the power went: nothing left to tell
    gone->target = target;
    queueSession(*gone, "abnormal", !gone->announced, After::wake, required);
  }
}

}  // namespace quenvar::collector
