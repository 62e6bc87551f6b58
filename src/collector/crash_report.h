#pragma once
// What a collector is told of the process: its system's facts for any report, and the event of
// a fault that ended it.

#include <string_view>
#include <vector>

#include "collector/crash_stacks.h"
#include "collector/event.h"
#include "platform/crash_capture.h"

namespace quenvar {
class SysObj;
class OsFacts;
}  // namespace quenvar

namespace quenvar::collector {

// The "os" and "device" contexts.
std::vector<Context> systemContexts(const SysObj& sys, OsFacts& os);

// The fatal event of `facts`, over `known` (the contexts, release and tags of what was last
// known of the application) with the crashing thread's `stack`.
EventInput crashEvent(const CrashFacts& facts, std::string_view minidump, const EventInput& known, CrashStack stack);

}  // namespace quenvar::collector
