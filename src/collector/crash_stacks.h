#pragma once
// The procedure stacks of the process's handlers, by the thread each belongs to, for a crash
// report: read from the capture's thread while the crashing one waits, never from the crashing
// thread itself. Other threads go on running during a crash, changing their stacks under any
// reader, so only the crashing thread's is read.

#include <cstdint>
#include <functional>
#include <vector>

#include "collector/event.h"

namespace quenvar::collector {

struct CrashStack {
  std::vector<Frame> frames;  // outermost first
  std::vector<Breadcrumb> breadcrumbs;
};

class CrashStacks {
 public:
  using Reader = std::function<CrashStack()>;
  // `read` must call no client object: it runs while the process is dying.
  static void add(const void* owner, uint64_t thread, Reader read);
  static void remove(const void* owner);
  // The deepest stack of `thread`'s handlers; empty when it has none, or when the registry stays
  // held (by the crashing thread, say) for longer than `seconds`.
  static CrashStack of(uint64_t thread, double seconds);
};

}  // namespace quenvar::collector
