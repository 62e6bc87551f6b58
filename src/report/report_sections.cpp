#include "report/report.h"

#include <algorithm>

#include "quenvar/object.h"
#include "core/steps.h"
#include "core/text.h"
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

std::string errorSection(const ReportInput& in, Platform& platform, Steps& step) {
  const LocaleText& lt = *platform.locale;
  auto member = [&](const ObjectRef& o, const char* name) { return lt.text(get(o, name)); };
  const std::string headingWord = in.databaseError ? " Database" : " Application";

  std::string s;
  LineWriter line{step, s};
  line([&] {
    const ObjectRef app = in.application();
    if (!app) return headingWord.substr(1) + " Error Information\r\n";
    return member(app, "Title") + headingWord + " Error Information\r\n";
  });
  line([] { return std::string("=====================\r\n\r\n"); });
  // A password the client's texts carry (a connection string in a message) is masked as the
  // connection's own properties are.
  if (!in.customMessage.empty()) line([&] { return maskSecretItems(in.customMessage) + "\r\n\r\n"; });
  line([&] { return "Current Time:\t" + lt.dateTimeText(platform.clock->localNow()) + "\r\n"; });
  line([&] { return "Error Number:\t" + std::to_string(in.number) + "\r\n"; });
  line([&] { return "Error Procedure:\t" + in.procedure + "\r\n"; });
  line([&] { return "Error Line:\t" + std::to_string(in.line) + "\r\n"; });
  line([&] { return "Error Description:\t" + maskSecretItems(in.description) + "\r\n\r\n"; });
  line([] { return std::string("Procedure Stack\r\n-------------------\r\n"); });
  for (size_t i = 0;; ++i) {
    std::optional<std::string> name;
    const bool read = step([&] { name = in.stackEntry(i); });
    if (read && !name) break;
    if (!read || name->empty()) continue;
    s += twoDigits(i) + std::string(2 * std::min(i, kDeepestIndent), ' ') + *name + "\r\n";
  }
  line([&] { return in.parameterText(); });
  if (const std::string operation = in.currentOperation(); !operation.empty())
    line([&] { return "\r\nCurrent Operation: " + maskSecretItems(in.currentOperation()) + "\r\n"; });
  if (in.application()) {
    // Every line reads the member as it is then: a client member may replace the object.
    auto fact = [&](const char* name) { return member(in.application(), name); };
    line([] { return std::string("\r\nAdditional Information\r\n-------------------------\r\n"); });
    line([&] { return "Current Directory:\t" + platform.files->currentDirectory() + "\r\n"; });
    line([&] { return "Title:\t\t" + fact("Title") + "\r\n"; });
    line([&] { return "Company Name:\t" + fact("CompanyName") + "\r\n"; });
    line([&] { return "Major:\t\t" + fact("Major") + "\r\n"; });
    line([&] { return "Minor:\t\t" + fact("Minor") + "\r\n"; });
    line([&] { return "Revision:\t\t" + fact("Revision") + "\r\n"; });
    line([&] { return "Path:\t\t" + fact("Path") + "\r\n"; });
    line([&] { return "App Name:\t" + fact("ProductName"); });
  }
  return s;
}

void applicationSection(const ReportInput& in, Platform& platform, Steps& step, std::string& into) {
  const LocaleText& lt = *platform.locale;
  into = "App. Information\r\n=============\r\n\r\n";
  LineWriter line{step, into};
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
    line([&, label = label, name = name] {
      return std::string(label) + "\t" + lt.text(get(in.application(), name)) + "\r\n";
    });
}

void systemSection(const SysObj& sys, Steps& step, std::string& into) {
  into = "System Information\r\n=============\r\n\r\n";
  LineWriter line{step, into};
  line([&] { return "PLatform:\t\t\t" + sys.PlatForm() + "\r\n"; });
  line([&] { return "Version:\t\t\t\t" + sys.OsVersion() + "\r\n"; });
  line([&] { return "Build:\t\t\t\t" + sys.Build() + "\r\n"; });
  line([&] { return "Service Pack:\t\t\t" + sys.ServicePack() + "\r\n"; });
  line([&] { return "CPU:\t\t\t\t" + sys.Cpu() + "\r\n"; });
  line([&] { return "Total Physical Memory:\t\t" + sys.TotalPhysicalMemory() + "\r\n"; });
  line([&] { return "Available Physical Memory:\t\t" + sys.AvailablePhysicalMemory() + "\r\n"; });
  line([&] { return "Total Virtual Memory:\t\t" + sys.TotalVirtualMemory() + "\r\n"; });
  line([&] { return "Available Virtual Memory:\t\t" + sys.AvailableVirtualMemory(); });
}

void databaseSection(const ReportInput& in, Platform& platform, Steps& step, std::string& into) {
  const LocaleText& lt = *platform.locale;
  auto member = [&](const ObjectRef& o, const char* name) { return lt.text(get(o, name)); };
  into = "Database Information\r\n==============\r\n\r\n";
  LineWriter line{step, into};
  const ObjectRef cn = in.connection();
  if (!cn) return;
  line([&] { return "ADO Version : " + member(cn, "Version") + "\r\n"; });
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
    line([&] {
      std::string name = member(prop, "Name");
      std::string value = member(prop, "Value");
      value = isSecretName(name) ? std::string(kMaskedSecret) : maskSecretItems(value);
      return name + " : " + value + "\r\n";
    });
  }
}

}  // namespace quenvar
