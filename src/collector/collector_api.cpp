// The public Collector over the process's hub for the platform it was given.

#include "quenvar/collector.h"

#include "collector/hub.h"
#include "core/thread_state.h"
#include "platform/platform.h"

namespace quenvar {

namespace {
collector::Hub& hub(Platform& platform) { return collector::Hub::of(platform); }
}  // namespace

Collector::Collector() : Collector(defaultPlatform()) {}

std::string Collector::Dsn() const { return hub(platform_).dsn(); }
void Collector::Dsn(const std::string& value) { hub(platform_).dsn(value); }
std::string Collector::Environment() const { return hub(platform_).environment(); }
void Collector::Environment(const std::string& value) { hub(platform_).environment(value); }
std::string Collector::Release() const { return hub(platform_).release(); }
void Collector::Release(const std::string& value) { hub(platform_).release(value); }
std::string Collector::CAFile() const { return hub(platform_).caFile(); }
void Collector::CAFile(const std::string& value) { hub(platform_).caFile(value); }
bool Collector::SendUserName() const { return hub(platform_).sendUserName(); }
void Collector::SendUserName(bool value) { hub(platform_).sendUserName(value); }
bool Collector::ConsentRequired() const { return hub(platform_).consentRequired(); }
void Collector::ConsentRequired(bool value) { hub(platform_).consentRequired(value); }
int32_t Collector::Consent() const { return hub(platform_).consent(); }
void Collector::Consent(int32_t value) { hub(platform_).consent(value); }
bool Collector::CatchCrashes() const { return hub(platform_).catchCrashes(); }
void Collector::CatchCrashes(bool value) { hub(platform_).catchCrashes(value); }
bool Collector::CrashedLastRun() const { return hub(platform_).crashedLastRun(); }
void Collector::ClearCrashedLastRun() { hub(platform_).clearCrashedLastRun(); }
bool Collector::TrackSessions() const { return hub(platform_).trackSessions(); }
void Collector::TrackSessions(bool value) { hub(platform_).trackSessions(value); }
int32_t Collector::Pending() const { return hub(platform_).pending(); }
int32_t Collector::Flush(int32_t TimeoutMs) { return hub(platform_).flush(TimeoutMs); }
std::string Collector::LastEventId() const { return threadState().part<collector::LastEvent>().id; }
std::string Collector::LastError() const { return hub(platform_).lastError(); }

}  // namespace quenvar
