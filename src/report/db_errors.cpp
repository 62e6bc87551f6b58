#include "report/db_errors.h"

#include "quenvar/automation_error.h"
#include "quenvar/object.h"
#include "core/steps.h"
#include "core/text.h"
#include "platform/platform.h"

namespace quenvar {

std::string CleanDBMessage(std::string_view strMessage) {
  std::string result(strMessage);
  for (std::string_view prefix : {std::string_view("[SQL Server]"),
                                  std::string_view("[ODBC Microsoft Access Driver]")}) {
    size_t p = strMessage.find(prefix);
    if (p != std::string_view::npos)
      result = "Database Error: " + std::string(strMessage.substr(p + prefix.size()));
  }
  return result;
}

void CollectDBErrors(const ObjectRef& connection, const LocaleText& lt, int32_t& number,
                     std::string& description, int32_t& errorType) {
  try {
    ObjectRef errors = getObject(connection, "Errors");
    const int32_t count = get(errors, "Count").toLong();
    auto item = [&](int32_t i) {
      Variant index(i);
      Variant v = call(errors, "Item", std::span<const Variant>(&index, 1));
      if (!v.asObject()) raiseObjectNotSet();
      return v.asObject();
    };
    if (count == 0) {
      description = CleanDBMessage(description);
    } else if (get(item(0), "NativeError").toDouble() != 0) {
      std::string t = "\r\nDATABASE ERROR MESSAGE(S)\r\n\r\n";
      for (int32_t i = 0; i < count; ++i) {
        ObjectRef e = item(i);
        if (i > 0) t += kCrLf;
        t += "DB ERROR " + std::to_string(int64_t{i} + 1) + "\tNative DB ERR#: " +
             lt.text(get(e, "NativeError")) + "\r\n";
        t += "DESCRIPTION:\t" + CleanDBMessage(lt.text(get(e, "Description"))) + "\r\n";
        t += "SOURCE:\t\t" + lt.text(get(e, "Source")) + "\r\n";
        t += "SQL STATE:\t" + lt.text(get(e, "sqlstate")) + "\r\n";
        Variant driverNumber = get(e, "Number");
        t += "ERROR:\t\t" + lt.text(Variant(driverNumber.toDouble() - err::kAutomationBase)) + " (" +
             lt.text(driverNumber) + ")";
      }
      description = t;
      const int64_t rebased = int64_t{number} - err::kAutomationBase;
      if (rebased > INT32_MAX) raiseOverflow();
      number = static_cast<int32_t>(rebased);
      errorType = 1;
    }
    call(errors, "Clear");
    call(errors, "Refresh");
  } catch (...) {
    // Contained: whatever was changed before the failure stays.
    (void)currentFailure();
  }
}

}  // namespace quenvar
