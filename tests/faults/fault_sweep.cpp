#include "faults/fault_sweep.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "core/thread_state.h"
#include "dialogs/thread_dialogs.h"
#include "handler/procedures.h"
#include "mail/mail_settings.h"

namespace quenvar::faults {

namespace {

constexpr auto kRunLimit = std::chrono::seconds(3);
constexpr int kMaxRuns = 10000;

int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class Watchdog {
 public:
  Watchdog() : thread_([this] { watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  void start(std::string what) {
    std::lock_guard lock(mutex_);
    what_ = std::move(what), deadline_ = std::chrono::steady_clock::now() + kRunLimit, running_ = true;
    wake_.notify_one();
  }
  void stop() {
    std::lock_guard lock(mutex_);
    running_ = false;
  }

 private:
  void watch() {
    std::unique_lock lock(mutex_);
    while (!done_) {
      if (!running_) {
        wake_.wait(lock);
        continue;
      }
      if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && running_ &&
          std::chrono::steady_clock::now() >= deadline_) {
        std::fprintf(stderr, "fault run hung: %s\n", what_.c_str());
        std::abort();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string what_;
  std::chrono::steady_clock::time_point deadline_;
  bool running_ = false, done_ = false;
  std::thread thread_;
};

}  // namespace

int sweep(const Sweep& how, const std::function<void(FaultPlan&)>& run) {
  Watchdog watchdog;
  int faulted = 0;
  for (int64_t n = 1; n <= kMaxRuns; ++n) {
    FaultPlan plan;
    plan.schedule(n, how.service, how.sticky);
    const std::string what = "call " + std::to_string(n) + (how.sticky ? " on" : " once");
    SCOPED_TRACE(what);
    threadState().reset();
    const int descriptors = openDescriptors();
    watchdog.start(what);
    run(plan);
    watchdog.stop();
    threadState().reset();
    EXPECT_EQ(openDescriptors(), descriptors) << "a descriptor was left open";
    if (!plan.hit()) return faulted;
    ++faulted;
    if (::testing::Test::HasFatalFailure()) return faulted;
  }
  ADD_FAILURE() << "still meeting faults after " << kMaxRuns << " runs";
  return faulted;
}

}  // namespace quenvar::faults
