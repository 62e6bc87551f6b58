#pragma once
// Sending every handled error to a central collector that speaks the Sentry envelope protocol
// (Sentry, self-hosted Sentry, GlitchTip and others). The settings are the process's: every
// Collector object and handler of the process shares them and one sending worker. Reports wait
// in the user's outbox until the collector took them, across runs of the program.

#include <cstdint>
#include <string>

namespace quenvar {

struct Platform;

class Collector {
 public:
  explicit Collector(Platform& platform) : platform_(platform) {}
  Collector();

  // {http|https}://{public_key}[:{secret}]@{host}[:{port}][/{path}]/{project_id}; empty turns
  // collection off. Until set in the process, SENTRY_DSN. A malformed value raises 380.
  std::string Dsn() const;
  void Dsn(const std::string& value);
  // SENTRY_ENVIRONMENT, else "production", until set.
  std::string Environment() const;
  void Environment(const std::string& value);
  // SENTRY_RELEASE until set; when empty, each report's is <Title>@<Major>.<Minor>.<Revision>
  // of the handler's application object.
  std::string Release() const;
  void Release(const std::string& value);
  // Trust anchors added to the system's, for a collector with a private CA.
  std::string CAFile() const;
  void CAFile(const std::string& value);
  // Only when true do the login name and machine name go with a report.
  bool SendUserName() const;
  void SendUserName(bool value);
  // While consent is required and not given, reports wait in the outbox.
  bool ConsentRequired() const;
  void ConsentRequired(bool value);
  // 0 not asked, 1 given, 2 refused (then nothing is kept or sent); per user and collector
  // project. Without a DSN in effect it reads 0 and a write raises 5; other values raise 380.
  int32_t Consent() const;
  void Consent(int32_t value);
  // A fault that ends the process (a crash) leaves a report in the outbox, sent by the next
  // process that uses this collector; the process still ends as it would have. True installs
  // capture (on top again when another replaced it since), False gives back what it replaced.
  // Process-wide; without a DSN in effect a write raises 5.
  bool CatchCrashes() const;
  void CatchCrashes(bool value);
  // Whether the last run of this user and collector project that ended did so by a crash
  // caught here; reset by ClearCrashedLastRun or by a run that ends normally with capture on.
  bool CrashedLastRun() const;
  void ClearCrashedLastRun();
  // Each run of the process is one session the collector counts for release health: begun when
  // the collector comes into effect, ended at exit ("exited") or by a caught crash ("crashed");
  // a run that vanished is told by the next run of the user and project ("abnormal"). False
  // turns it off for the process (and ends the one under way untold); set it before Dsn.
  bool TrackSessions() const;
  void TrackSessions(bool value);
  // Reports waiting in this collector project's outbox, session updates among them.
  int32_t Pending() const;
  // Sends what waits at once (not waiting out the backoff after failures, never while a rate
  // limit holds: one that ends within the time is waited out); how many still wait after at
  // most `TimeoutMs`.
  int32_t Flush(int32_t TimeoutMs);
  // The event id of the last report a handler of this thread queued; empty when none.
  std::string LastEventId() const;
  // The last sending failure in words; empty before any and after a success.
  std::string LastError() const;

 private:
  Platform& platform_;
};

}  // namespace quenvar
