#pragma once
// The collector's process-wide part: the settings every Collector object and handler of the
// process shares, the outbox of the collector project in effect, and the one worker that sends
// in the background. One hub per platform (a process has one; tests make their own).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "collector/dsn.h"
#include "collector/event.h"
#include "platform/crash_capture.h"

#include "platform/http_client.h"

namespace quenvar {
struct Platform;
}

namespace quenvar::collector {

class Outbox;

class Hub {
 public:
  static Hub& of(Platform& platform);
  // A handler was made: with SENTRY_DSN set the first one brings the collector into effect, and
  // the run's session begins. Makes no hub where there is none to begin.
  static void handlerMade(Platform& platform);
  explicit Hub(Platform& platform);
  // Waits for the worker: for a hub that is not the process's (tests).
  ~Hub();
  // The process ends: the worker starts no other send, and no one waits for the one under way.
  void stopAtExit();
  Hub(const Hub&) = delete;
  Hub& operator=(const Hub&) = delete;

  // Each as Quenvar.Collector has them; a value a property refuses raises 380 and changes nothing.
  std::string dsn();
  void dsn(const std::string& value);
  std::string environment();
  void environment(const std::string& value);
  std::string release();
  void release(const std::string& value);
  std::string caFile();
  void caFile(const std::string& value);
  bool sendUserName();
  void sendUserName(bool value);
  bool consentRequired();
  void consentRequired(bool value);
  // 0 not asked, 1 given, 2 refused; per user and collector project. Without a DSN in effect it
  // reads 0 and a write raises 5.
  int32_t consent();
  void consent(int32_t value);
  int32_t pending();
  int32_t flush(int32_t timeoutMs);
  std::string lastError();

  // Crash capture for the process: true installs it (on top again when another took its place
  // since), false gives back what it replaced. Without a DSN in effect a write raises 5.
  bool catchCrashes();
  void catchCrashes(bool value);
  // Whether the last run of this user and collector project that ended did so by a crash
  // caught here; a run that ends normally with capture installed, or the clearing, resets it.
  bool crashedLastRun();
  void clearCrashedLastRun();

  // What a crash report is to say of the application: contexts (by name, replacing those of the
  // same name) and, when not empty, the release.
  void remember(std::vector<Context> contexts, const std::string& release);

  // A handled error for the collector in effect, if any and allowed: completed (event id,
  // environment, release when the client set one, the user's names when asked for) and queued
  // for the worker. The event id, or empty when nothing was queued.
  std::string queue(EventInput event);

  // Whether a report would be queued now: a collector in effect, its services present and the
  // user's consent not refused. The handler asks first, so that without a collector it reads
  // nothing more of the client's objects.
  bool collecting();

  // Whether each run is one session the collector counts (release health); process-wide. False
  // ends the one under way without telling the collector.
  bool trackSessions();
  void trackSessions(bool value);
  // The collector came into effect (a DSN set, a handler made): this run's session begins, if
  // none has and sessions are tracked and allowed, and those of runs that vanished are told.
  void beginSession();

  // What the handler fills a report's release with when none is set: false while the setting or
  // SENTRY_RELEASE names one.
  bool releaseFromApplication();

 private:
  struct InEffect {
    Dsn dsn;
    std::string project;  // the outbox folder's name
  };
  std::optional<InEffect> inEffect();  // under lock_
  std::optional<InEffect> current();  // inEffect() under lock_
  Outbox outboxOf(const std::string& project);
  // What the user answered for `target`'s project: "0" not asked, "1" given, "2" refused.
  std::string storedConsent(const InEffect& target);
  // Queues `event`; a fatal one is made durable at once, as no worker will come for it.
  std::string put(EventInput event, bool fatal);
  // On the capture's thread, the crashing one waiting.
  void crashed(const CrashFacts& facts, std::string_view minidump);
  bool sendingAllowed(const InEffect& target);
  // Whether a report for `target` may be kept: consent not refused. Marks the outbox while
  // consent is required and not given.
  bool mayKeep(const InEffect& target, bool consentRequired);

  // The run's release-health session: these members are defined in session.cpp.
  struct Session {
    InEffect target;
    std::string key;  // its state's; empty when this system cannot tell a vanished run
    std::string sid;
    double started = 0, timestamp = 0;
    int64_t errors = 0;
    bool announced = false;  // its first update is queued
    std::string announcedAs;  // the name that update waits under, while it is known
    std::string release, environment, did;
    std::string userName;  // the did, when the user's names may be sent
  };
  std::string environmentNow();  // under lock_
  // The release set, else SENTRY_RELEASE; empty when neither names one. Under lock_.
  std::string configuredRelease();
  // The release a session update carries: the configured one, else the application's. Under lock_.
  std::string sessionRelease();
  // After a handled error was queued (`error`) or the release became known.
  void sessionChanged(bool error);
  // `status` "exited" or "crashed"; `lockWait` bounds the wait for lock_.
  void endSession(const char* status, double lockWait);
  bool lockWithin(std::unique_lock<std::mutex>& held, double seconds);
  // Without an update: refused consent or tracking turned off.
  void dropSession();
  void keepSessionState(const Session& session);
  static std::optional<Session> sessionFrom(const std::string& state);
  enum class After { wake, sync, nothing };  // nothing: the process is ending
  // The name the update waits under; empty when none was queued.
  std::string queueSession(const Session& session, const char* status, bool init, After after, bool consentRequired);
  // The sessions of runs of `target` on this host whose processes are gone, each told once as
  // abnormal with the errors it had counted.
  void tellVanished(const InEffect& target, const std::string& host);
  void wake();
  void work();
  // Waits under `held` until `seconds` passed or stopping_ or the predicate says so, in steps no
  // clock conversion can overflow.
  template <class Until>
  void waitFor(std::unique_lock<std::mutex>& held, double seconds, Until until);
  struct Pass {
    bool failed = false;  // the collector did not take what was sent
    size_t left = 0;      // reports still waiting
    double limitedUntil = 0;  // when a rate limit that held one back ends
  };
  Pass drainOnce(const InEffect& target, HttpClient& client, bool explicitFlush, double deadline);
  double now() const;

  Platform& platform_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::optional<std::string> dsn_, environment_, release_;
  std::string caFile_;
  bool sendUserName_ = false, consentRequired_ = false;
  std::string lastError_;
  bool working_ = false, stopping_ = false, wakeAgain_ = false;
  bool resting_ = false;  // the worker waits out a limit or a backoff, touching nothing
  std::unique_ptr<HttpClient> workerClient_;  // the worker's alone, one worker at a time
  // What a crash report knows of the application, read when it was safe: the system's facts at
  // install, then the contexts and release of each handled error.
  EventInput known_;
  std::atomic<bool> crashedHere_{false};
  // Set as a crash's report begins: the dying process sends nothing more, so its report cannot
  // leave before the dump that follows it (a collector drops the second copy of an event).
  std::atomic<bool> capturing_{false};
  // The crash reported last, the capture's thread's alone: its dump, when it comes, is added to it.
  struct Reported {
    EventInput event;
    std::string project, name;
    uint64_t thread = 0;
  };
  std::optional<Reported> reported_;
  bool trackSessions_ = true;
  std::optional<Session> session_;
};

// The event id of the last report a handler of this thread queued (a part of the thread's state).
struct LastEvent {
  std::string id;
};

// A folder name for a collector project: readable, and unique through a hash of the whole.
std::string outboxName(const std::string& project);

}  // namespace quenvar::collector
