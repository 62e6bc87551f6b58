#include "collector/crash_report.h"

#include <cstring>

#include "platform/os_facts.h"
#include "quenvar/sys_obj.h"

namespace quenvar::collector {

namespace {

void add(Context& context, const char* key, const std::string& value) {
  if (!value.empty()) context.facts.emplace_back(key, value);
}

// A field the crashing thread filled, however it left it.
std::string filled(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

std::vector<Context> systemContexts(const SysObj& sys, OsFacts& os) {
  Context system{"os", {}}, device{"device", {}};
  add(system, "name", sys.PlatForm());
  add(system, "version", sys.OsVersion());
  add(system, "build", sys.Build());
  const MemoryRecord memory = os.memory();
  device.facts.emplace_back("memory_size", Fact(static_cast<int64_t>(memory.totalPhysical)));
  device.facts.emplace_back("free_memory", Fact(static_cast<int64_t>(memory.availablePhysical)));
  add(device, "cpu_description", sys.Cpu());
  std::vector<Context> out;
  for (Context* context : {&system, &device})
    if (!context->facts.empty()) out.push_back(std::move(*context));
  return out;
}

EventInput crashEvent(const CrashFacts& facts, std::string_view minidump, const EventInput& known, CrashStack stack) {
  EventInput event;
  event.type = filled(facts.type, sizeof facts.type);
  event.value = filled(facts.value, sizeof facts.value);
  event.frames = std::move(stack.frames);
  event.breadcrumbs = std::move(stack.breadcrumbs);
  event.release = known.release;
  event.contexts = known.contexts;
  event.userName = known.userName;
  event.serverName = known.serverName;
  event.tags = {{"crash", event.type}};
  if (!event.frames.empty()) event.tags.emplace_back("procedure", event.frames.back().function);
  event.fault = Fault{filled(facts.mechanism, sizeof facts.mechanism), facts.signal, facts.code, std::string(minidump)};
  return event;
}

}  // namespace quenvar::collector
