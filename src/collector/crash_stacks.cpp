#include "collector/crash_stacks.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace quenvar::collector {

namespace {

struct Entry {
  const void* owner;
  uint64_t thread;
  CrashStacks::Reader read;
};

// Never destroyed: a crash may come while the process ends.
struct Registry {
  std::timed_mutex lock;
  std::vector<Entry> entries;
};
Registry& registry() {
  static auto* kept = new Registry;
  return *kept;
}

}  // namespace

void CrashStacks::add(const void* owner, uint64_t thread, Reader read) {
  Registry& r = registry();
  const std::lock_guard held(r.lock);
  r.entries.push_back({owner, thread, std::move(read)});
}

void CrashStacks::remove(const void* owner) {
  Registry& r = registry();
  const std::lock_guard held(r.lock);
  std::erase_if(r.entries, [&](const Entry& e) { return e.owner == owner; });
}

CrashStack CrashStacks::of(uint64_t thread, double seconds) {
  Registry& r = registry();
  const std::unique_lock held(r.lock, std::chrono::duration<double>(seconds));
  CrashStack deepest;
  if (!held) return deepest;
  for (const Entry& e : r.entries) {
    if (e.thread != thread) continue;
    try {
      CrashStack stack = e.read();
      if (stack.frames.size() >= deepest.frames.size()) deepest = std::move(stack);
    } catch (...) {
    }
  }
  return deepest;
}

}  // namespace quenvar::collector
