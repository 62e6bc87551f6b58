#include "quenvar/err_handler.h"

#include "collector/crash_stacks.h"
#include "collector/hub.h"
#include "quenvar/automation_error.h"
#include "core/text.h"
#include "core/thread_state.h"
#include "handler/procedures.h"
#include "mail/mail_settings.h"
#include "platform/platform.h"
#include "quenvar/sys_obj.h"

namespace quenvar {

clsErrHandler::clsErrHandler(Platform& platform)
    : platform_(platform),
      threadState_(threadState()),
      procParams_(threadState_.part<ProcParamTable>()),
      mail_(threadState_.part<MailValues>()) {
  allowMovesInPlace();
  // Known to crash capture from the start: it may be installed later, or by another program
  // part, and a crash gives no moment to register.
  if (platform_.crash != nullptr) {
    if (platform_.crash->installed()) platform_.crash->prepareThread();
    collector::CrashStacks::add(this, platform_.crash->threadId(), [this] { return stackAtCrash(); });
  }
  // With SENTRY_DSN the first handler is the collector's coming into effect, and the run's start.
  if (platform_.outbox != nullptr) try {
      collector::Hub::handlerMade(platform_);
    } catch (...) {
    }
}
clsErrHandler::clsErrHandler() : clsErrHandler(defaultPlatform()) {}
clsErrHandler::~clsErrHandler() {
  if (platform_.crash != nullptr) collector::CrashStacks::remove(this);
}

void clsErrHandler::Cn(const ObjectRef& connection) {
  Variant cs = get(connection, "connectionstring");
  if (const std::string* s = cs.string(); s && s->empty())
    throw AutomationError(err::kConnectionClosed,
                          "ADO connection must be open before passing to the Error Object",
                          err::kOwnSource);
  cn_ = connection;
}

std::string clsErrHandler::ADOVersion() const { return platform_.locale->text(get(cn_, "Version")); }

void clsErrHandler::AppObject(const ObjectRef& application) {
  appObject_ = application;
  const LocaleText& text = *platform_.locale;
  std::string subject = text.text(get(application, "ProductName"));
  subject += " " + text.text(get(application, "Major"));
  subject += "." + text.text(get(application, "Minor"));
  subject += "." + text.text(get(application, "Revision"));
  subject_ = subject + " Application Error";
  tellCrashCapture();
}

namespace {
// The system ends a path at its first NUL: "C:\\x.txt" + NUL + "y" would name the file x.txt.
void refuseNul(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw AutomationError(err::kBadFileName, "Bad file name or number");
}
}  // namespace

void clsErrHandler::Destination(const std::string& value) {
  refuseNul(value);
  std::string path = value;
  std::string_view test = trimTrailingBlanks(value);
  if (!test.empty() && (test.back() == '\\' || test.back() == '/')) {
    std::string_view trimmed = trimBlanks(value);
    path = std::string(trimmed.substr(0, trimmed.size() - 1));
  }
  destination_ = path;
  // An empty name looks up the current folder, which is there: nothing to create. HandleError
  // and tracing fill in the default folder later.
  if (!path.empty() && !platform_.files->exists(path)) platform_.files->createFolder(path);
}

std::shared_ptr<SysObj> clsErrHandler::SysObject() {
  if (!sysObj_) sysObj_ = std::make_shared<SysObj>(*platform_.os, *platform_.locale);
  return sysObj_;
}

std::string clsErrHandler::defaultFolder() const {
  if (appObject_) return platform_.locale->text(get(appObject_, "Path"));
  return platform_.module->folder();
}

std::string clsErrHandler::logPath(const char* fileName) const {
  refuseNul(destination_);  // a folder taken from the application object has no other check
  return destination_ + platform_.files->separator() + fileName;
}

uint32_t clsErrHandler::advise(std::shared_ptr<HandlerEvents> sink) {
  if (!sink) raiseObjectNotSet();
  sinks_.emplace_back(nextCookie_, std::move(sink));
  return nextCookie_++;
}

bool clsErrHandler::unadvise(uint32_t cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == cookie) {
      sinks_.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace quenvar
