#pragma once
// A Platform whose services can be made to fail on a chosen call, after SQLite's fault-injecting
// VFS: every wrapped call that can fail is counted in one place, and the chosen one fails the
// way its real backend fails (the AutomationError it raises, or the failure value its seam
// returns). Services that cannot fail (clock, locale, module, pointer) pass straight through.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quenvar::faults {

enum class Service { Files, Settings, EventLog, Launcher, MessageBox, Os, Windows, Clipboard, Shell, MailClient, Network };

class FaultPlan {
 public:
  // Once armed, the n-th countable call (1-based) of `service`, or of any service, fails; with
  // `sticky`, every countable call of it after that one fails too.
  void schedule(int64_t n, std::optional<Service> service = {}, bool sticky = false);
  // Counting starts (setting a scene up is not counted) or stops (nothing fails any more).
  void arm() { armed_ = true; }
  void disarm() { armed_ = false; }

  // Counts one call; true when it has to fail. `what` names it in the record of injections.
  bool fails(Service service, const char* what);

  // The calls that were made to fail, as "Service.member", in order.
  const std::vector<std::string>& injected() const { return injected_; }
  bool hit() const { return !injected_.empty(); }
  bool injectedInto(std::string_view what) const;
  bool injectedInto(Service service) const;
  // The injections, comma-separated, for a failure message.
  std::string record() const;

 private:
  bool armed_ = false;
  std::optional<Service> service_;
  bool sticky_ = false;
  int64_t target_ = 0, count_ = 0;
  std::vector<std::string> injected_;
  std::vector<Service> services_;
};

// Wraps every service of `inner`; `platform` is what the code under test gets.
class FaultyPlatform {
 public:
  FaultyPlatform(Platform& inner, FaultPlan& plan);
  ~FaultyPlatform();
  FaultyPlatform(const FaultyPlatform&) = delete;
  FaultyPlatform& operator=(const FaultyPlatform&) = delete;

  Platform platform;

 private:
  struct Wrappers;
  std::unique_ptr<Wrappers> wrappers_;
};

}  // namespace quenvar::faults
