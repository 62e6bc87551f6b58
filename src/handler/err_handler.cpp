#include "quenvar/err_handler.h"

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
      m_threadState(threadState()),
      m_procParams(m_threadState.part<ProcParamTable>()),
      m_mail(m_threadState.part<MailValues>()) {}
clsErrHandler::clsErrHandler() : clsErrHandler(defaultPlatform()) {}
clsErrHandler::~clsErrHandler() = default;

void clsErrHandler::Cn(const ObjectRef& connection) {
  Variant cs = get(connection, "connectionstring");
  if (const std::string* s = cs.string(); s && s->empty())
    throw AutomationError(err::kConnectionClosed,
                          "ADO connection must be open before passing to the Error Object",
                          err::kOwnSource);
  m_objCn = connection;
}

std::string clsErrHandler::ADOVersion() const { return platform_.locale->text(get(m_objCn, "Version")); }

void clsErrHandler::AppObject(const ObjectRef& application) {
  m_objAppObject = application;
  const LocaleText& text = *platform_.locale;
  std::string subject = text.text(get(application, "ProductName"));
  subject += " " + text.text(get(application, "Major"));
  subject += "." + text.text(get(application, "Minor"));
  subject += "." + text.text(get(application, "Revision"));
  m_strSubject = subject + " Application Error";
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
  m_strDestination = path;
  if (!platform_.files->exists(path)) platform_.files->createFolder(path);
}

std::shared_ptr<SysObj> clsErrHandler::SysObject() {
  if (!m_objSysObj) m_objSysObj = std::make_shared<SysObj>(*platform_.os, *platform_.locale);
  return m_objSysObj;
}

std::string clsErrHandler::defaultFolder() const {
  if (m_objAppObject) return platform_.locale->text(get(m_objAppObject, "Path"));
  return platform_.module->folder();
}

std::string clsErrHandler::logPath(const char* fileName) const {
  refuseNul(m_strDestination);  // a folder taken from the application object has no other check
  return m_strDestination + platform_.files->separator() + fileName;
}

uint32_t clsErrHandler::advise(std::shared_ptr<HandlerEvents> sink) {
  if (!sink) raiseObjectNotSet();
  m_sinks.emplace_back(m_nextCookie, std::move(sink));
  return m_nextCookie++;
}

bool clsErrHandler::unadvise(uint32_t cookie) {
  for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
    if (it->first == cookie) {
      m_sinks.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace quenvar
