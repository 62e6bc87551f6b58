#pragma once
// The random names the collector gives: event ids, session ids, the jitter of a backoff. Each
// thread draws from a generator of its own, so no caller waits for a lock to name a report.

#include <string>

namespace quenvar::collector {

// 32 lowercase hex digits: an event id, or a name no other report has.
std::string randomHex();
// A version 4 UUID, as a session's id.
std::string uuid();
// In [0, 1).
double randomFraction();

}  // namespace quenvar::collector
