#pragma once
// A blocking call that nothing can interrupt (a host-name lookup), waited for no longer than a
// limit measured on the session's steady clock.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/socket.h"

namespace quenvar {

// Runs `work` on a thread of its own and waits for its result until `clock` has moved on by more
// than `limitSeconds`, then gives up with nullopt: the thread finishes by itself later and hands
// its result to `discard`. The caller must then keep its own code loaded for that thread. Without
// a thread to spare, the work runs on this one.
template <class R>
std::optional<R> callWithin(SteadyClock& clock, double limitSeconds, std::function<R()> work,
                            std::function<void(R&)> discard) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<R> result;
    bool abandoned = false;
  };
  auto shared = std::make_shared<Shared>();
  std::thread worker;
  try {
    worker = std::thread([shared, work, discard] {
      R result = work();
      const std::lock_guard lock(shared->mutex);
      if (shared->abandoned) discard(result);
      else shared->result = std::move(result);
      shared->finished.notify_one();
    });
  } catch (const std::system_error&) {
    return work();
  }
  const double start = clock.seconds();
  std::unique_lock lock(shared->mutex);
  while (!shared->result) {
    if (clock.seconds() - start > limitSeconds) {
      shared->abandoned = true;
      lock.unlock();
      worker.detach();
      return std::nullopt;
    }
    shared->finished.wait_for(lock, std::chrono::milliseconds(100));
  }
  std::optional<R> result = std::move(shared->result);
  lock.unlock();
  worker.join();  // nothing of this library runs on after the call returns
  return result;
}

}  // namespace quenvar
