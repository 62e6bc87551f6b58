// A handled error for the central collector: the stack with each level's parameters as the
// report shows them, the facts of the system, application and connection, and the report.

#include "collector/crash_report.h"
#include "collector/hub.h"
#include "core/text.h"
#include "core/thread_state.h"
#include "handler/procedures.h"
#include "platform/platform.h"
#include "quenvar/automation_error.h"
#include "quenvar/err_handler.h"
#include "quenvar/sys_obj.h"
#include "report/secrets.h"

namespace quenvar {

namespace {

using collector::Context;

// A member as text, or nothing when the object has none or it fails.
std::optional<std::string> text(const ObjectRef& object, const char* name, const LocaleText& locale) {
  try {
    return locale.text(get(object, name));
  } catch (...) {
    return std::nullopt;
  }
}

void add(Context& context, const char* key, const std::optional<std::string>& value) {
  if (value && !value->empty()) context.facts.emplace_back(key, *value);
}

}  // namespace

collector::Context clsErrHandler::applicationFacts(collector::Hub& hub, std::string& release) {
  Context app{"app", {}};
  if (!appObject_) return app;
  const LocaleText& locale = *platform_.locale;
  const auto title = text(appObject_, "Title", locale);
  const auto major = text(appObject_, "Major", locale), minor = text(appObject_, "Minor", locale),
             revision = text(appObject_, "Revision", locale);
  add(app, "app_name", title);
  add(app, "product_name", text(appObject_, "ProductName", locale));
  if (major && minor && revision) {
    const std::string version = *major + "." + *minor + "." + *revision;
    app.facts.emplace_back("app_version", version);
    if (hub.releaseFromApplication() && title && !title->empty()) release = *title + "@" + version;
  }
  return app;
}

// A crash gives no moment to read the application object: what it says is kept when it comes.
void clsErrHandler::tellCrashCapture() noexcept {
  try {
    collector::Hub& hub = collector::Hub::of(platform_);
    if (!hub.collecting()) return;
    std::string release;
    collector::Context app = applicationFacts(hub, release);
    hub.remember({std::move(app)}, release);
  } catch (...) {
  }
}

std::vector<collector::Frame> clsErrHandler::framesForCollector(bool atCrash) {
  std::vector<collector::Frame> frames;
  const auto depth = static_cast<size_t>(std::max(0, StackDepth()));
  for (size_t level = 0; level <= depth && level < stack_.size(); ++level) {
    if (stack_[level].empty()) continue;  // the base slot, or a level whose name is gone
    collector::Frame frame{stack_[level], 0, {}};
    if (procParams_.exists() && level < procParams_.size() && procParams_[level]) {
      // Held: reading an object value may call back into the stack.
      const std::shared_ptr<Procedures> list = procParams_[level];
      for (size_t i = 0; i < list->size(); ++i) {
        const Parameter p = list->at(i);
        // A dying process calls no client object: an object's value would be its code's.
        if (atCrash && p.Value.isObject()) {
          frame.vars.emplace_back(p.Param, "(object)");
          continue;
        }
        try {
          frame.vars.emplace_back(p.Param, isSecretName(p.Param) ? std::string(kMaskedSecret)
                                                                 : maskSecretItems(platform_.locale->text(p.Value)));
        } catch (const AutomationError& e) {
          if (e.number() == err::kTypeMismatch) frame.vars.emplace_back(p.Param, "-----");
        } catch (...) {
        }
      }
    }
    frames.push_back(std::move(frame));
  }
  if (!frames.empty() && errLine_ != 0 && !atCrash) frames.back().line = errLine_;
  return frames;
}

collector::CrashStack clsErrHandler::stackAtCrash() {
  collector::CrashStack stack{framesForCollector(true), {}};
  for (const auto& [moment, name] : traced_) stack.breadcrumbs.push_back({moment, name});
  return stack;
}

void clsErrHandler::queueForCollector(const SysObj& sys) noexcept {
  try {
    collector::Hub& hub = collector::Hub::of(platform_);
    if (!hub.collecting()) return;
    const LocaleText& locale = *platform_.locale;
    collector::EventInput event;
    event.type = "Error " + std::to_string(errNum_);
    event.value = maskSecretItems(errDesc_);
    event.frames = framesForCollector(false);

    event.contexts = collector::systemContexts(sys, *platform_.os);
    Context app = applicationFacts(hub, event.release), database{"database", {}};
    if (cn_) {
      add(database, "driver_version", text(cn_, "Version", locale));
      add(database, "provider", text(cn_, "Provider", locale));
      try {
        const ObjectRef props = getObject(cn_, "Properties");
        const int32_t count = get(props, "Count").toLong();
        // The listing ends where the collection stops answering, as the report's does.
        for (int32_t i = 0; i < count && database.facts.size() < collector::kMostVarsPerFrame; ++i) {
          const Variant index(i);
          const ObjectRef prop = call(props, "Item", std::span<const Variant>(&index, 1)).asObject();
          if (!prop) break;
          const std::string name = locale.text(get(prop, "Name"));
          std::string value;
          try {
            value = isSecretName(name) ? std::string(kMaskedSecret) : maskSecretItems(locale.text(get(prop, "Value")));
          } catch (...) {
            continue;
          }
          database.facts.emplace_back(name, value);
        }
      } catch (...) {
      }
    }
    for (Context* context : {&app, &database})
      if (!context->facts.empty()) event.contexts.push_back(std::move(*context));
    event.tags = {{"error_number", std::to_string(errNum_)}, {"procedure", procName_}};
    event.userName = platform_.os->userName();
    event.serverName = platform_.network->host().hostName();
    for (const auto& [moment, name] : traced_) event.breadcrumbs.push_back({moment, name});
    event.report = errorLogDisplay_ + "\r\n\r\n" + appLogDisplay_ + "\r\n\r\n" + sysLogDisplay_ + "\r\n\r\n" +
                   dbLogDisplay_;
    const std::string id = hub.queue(std::move(event));
    if (!id.empty()) threadState_.part<collector::LastEvent>().id = id;
  } catch (...) {
    // Nothing the collector does changes what HandleError returns or shows.
  }
}

}  // namespace quenvar
