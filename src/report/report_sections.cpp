// The four report sections. Every line is one step: a line whose value cannot be read is left
// out whole, label included.

#include <algorithm>

#include "quenvar/object.h"
#include "core/steps.h"
#include "core/text.h"
#include "quenvar/err_handler.h"
#include "platform/platform.h"
#include "report/secrets.h"
#include "quenvar/sys_obj.h"

namespace quenvar {

namespace {

struct LineWriter {
  Steps& step;
  std::string& to;
  // The line is made completely before it is appended, so a failing value adds nothing.
  template <class Make>
  void operator()(Make&& make) {
    step([&] { to += make(); });
  }
};

// Deeper entries are indented as this level is: 2 blanks per level without a cap make a
// 10^6-deep stack a 10^12-byte section. No hand-pushed stack of a real program gets near it.
constexpr size_t kDeepestIndent = 100;

std::string twoDigits(size_t i) { return (i < 10 ? "0" : "") + std::to_string(i); }

}  // namespace

void clsErrHandler::buildSections(Steps& step, const std::string& headingWord, const SysObj& sys) {
  const LocaleText& lt = *platform_.locale;
  auto member = [&](const ObjectRef& o, const char* name) { return lt.text(get(o, name)); };
  const ObjectRef app = m_objAppObject;

  // Error Information.
  std::string s;
  LineWriter line{step, s};
  line([&] {
    if (!app) return headingWord.substr(1) + " Error Information\r\n";
    return member(app, "Title") + headingWord + " Error Information\r\n";
  });
  line([] { return std::string("=====================\r\n\r\n"); });
  if (!m_strCustomErrMessage.empty()) line([&] { return m_strCustomErrMessage + "\r\n\r\n"; });
  line([&] { return "Current Time:\t" + lt.dateTimeText(platform_.clock->localNow()) + "\r\n"; });
  line([&] { return "Error Number:\t" + std::to_string(m_lngErrNum) + "\r\n"; });
  line([&] { return "Error Procedure:\t" + m_strProcName + "\r\n"; });
  line([&] { return "Error Line:\t" + std::to_string(m_intErrLine) + "\r\n"; });
  line([&] { return "Error Description:\t" + m_strErrDesc + "\r\n\r\n"; });
  line([] { return std::string("Procedure Stack\r\n-------------------\r\n"); });
  for (size_t i = 0; i <= static_cast<size_t>(m_lngStackDepth); ++i) {
    line([&] {
      if (i >= m_strStack.size()) raiseSubscript();
      const std::string& name = m_strStack[i];
      if (name.empty()) return std::string();
      return twoDigits(i) + std::string(2 * std::min(i, kDeepestIndent), ' ') + name + "\r\n";
    });
  }
  line([&] { return ShowParam(); });
  if (!m_strCurrentOperation.empty())
    line([&] { return "\r\nCurrent Operation: " + m_strCurrentOperation + "\r\n"; });
  if (app) {
    line([] { return std::string("\r\nAdditional Information\r\n-------------------------\r\n"); });
    line([&] { return "Current Directory:\t" + platform_.files->currentDirectory() + "\r\n"; });
    line([&] { return "Title:\t\t" + member(app, "Title") + "\r\n"; });
    line([&] { return "Company Name:\t" + member(app, "CompanyName") + "\r\n"; });
    line([&] { return "Major:\t\t" + member(app, "Major") + "\r\n"; });
    line([&] { return "Minor:\t\t" + member(app, "Minor") + "\r\n"; });
    line([&] { return "Revision:\t\t" + member(app, "Revision") + "\r\n"; });
    line([&] { return "Path:\t\t" + member(app, "Path") + "\r\n"; });
    line([&] { return "App Name:\t" + member(app, "ProductName"); });
  }
  m_strErrorLogDisplay = std::move(s);

  // App. Information, built in place.
  m_strAppLogDisplay = "App. Information\r\n=============\r\n\r\n";
  LineWriter appLine{step, m_strAppLogDisplay};
  static constexpr std::pair<const char*, const char*> kAppFacts[] = {
      {"Title:", "Title"},
      {"CompanyName:", "CompanyName"},
      {"Major:", "Major"},
      {"Minor:", "Minor"},
      {"Revision:", "Revision"},
      {"Path:", "Path"},
      {"ProductName:", "ProductName"},
      {"Comments:", "Comments"},
      {"ExeName:", "EXEName"},
      {"File Description:", "FileDescription"},
      {"Help File:", "HelpFile"},
      {"Legal Copyright:", "LegalCopyright"},
      {"Legal Trademarks:", "LegalTrademarks"},
      {"Log Mode:", "LogMode"},
      {"Log Path:", "LogPath"},
  };
  for (const auto& [label, name] : kAppFacts)
    // Captured by name: clang before 16 cannot capture a structured binding.
    appLine([&, label = label, name = name] {
      return std::string(label) + "\t" + member(m_objAppObject, name) + "\r\n";
    });

  // System Information.
  m_strSysLogDisplay = "System Information\r\n=============\r\n\r\n";
  LineWriter sysLine{step, m_strSysLogDisplay};
  sysLine([&] { return "PLatform:\t\t\t" + sys.PlatForm() + "\r\n"; });
  sysLine([&] { return "Version:\t\t\t\t" + sys.OsVersion() + "\r\n"; });
  sysLine([&] { return "Build:\t\t\t\t" + sys.Build() + "\r\n"; });
  sysLine([&] { return "Service Pack:\t\t\t" + sys.ServicePack() + "\r\n"; });
  sysLine([&] { return "CPU:\t\t\t\t" + sys.Cpu() + "\r\n"; });
  sysLine([&] { return "Total Physical Memory:\t\t" + sys.TotalPhysicalMemory() + "\r\n"; });
  sysLine([&] { return "Available Physical Memory:\t\t" + sys.AvailablePhysicalMemory() + "\r\n"; });
  sysLine([&] { return "Total Virtual Memory:\t\t" + sys.TotalVirtualMemory() + "\r\n"; });
  sysLine([&] { return "Available Virtual Memory:\t\t" + sys.AvailableVirtualMemory(); });

  // Database Information.
  m_strDbLogDisplay = "Database Information\r\n==============\r\n\r\n";
  LineWriter dbLine{step, m_strDbLogDisplay};
  const ObjectRef cn = Cn();
  if (!cn) return;
  dbLine([&] { return "ADO Version : " + member(cn, "Version") + "\r\n"; });
  ObjectRef props;
  int32_t count = 0;
  step([&] {
    props = getObject(cn, "Properties");
    count = get(props, "Count").toLong();
  });
  // A Count larger than the collection must not cost a failed read per missing index (up to
  // 2^31 of them): the listing ends at the first index whose Item gives no object.
  for (int32_t i = 0; i < count; ++i) {
    ObjectRef prop;
    const bool found = step([&] {
      Variant index(i);
      prop = call(props, "Item", std::span<const Variant>(&index, 1)).asObject();
      if (!prop) raiseObjectNotSet();
    });
    if (!found) break;
    dbLine([&] {
      std::string name = member(prop, "Name");
      std::string value = member(prop, "Value");
      value = isSecretName(name) ? std::string(kMaskedSecret) : maskSecretItems(value);
      return name + " : " + value + "\r\n";
    });
  }
}

}  // namespace quenvar
