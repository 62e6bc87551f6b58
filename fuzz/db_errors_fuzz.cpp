// The database error listing and CleanDBMessage. The input builds a connection whose Errors
// collection holds driver errors with arbitrary member values (any variant type, members
// missing, a Count that disagrees with the items), then handles an error through it.

#include <climits>
#include <cstdint>
#include <string>

#include "fakes/fake_platform.h"
#include "fuzz_input.h"
#include "quenvar/err_handler.h"
#include "report/db_errors.h"
#include "unit/client_objects.h"

namespace {

using namespace quenvar;

// Either the text itself or "Database Error: " and what follows one of the driver prefixes.
void checkCleaned(const std::string& raw) {
  const std::string cleaned = CleanDBMessage(raw);
  if (cleaned == raw) return;
  const std::string_view label = "Database Error: ";
  if (!cleaned.starts_with(label)) __builtin_trap();
  const std::string_view rest = std::string_view(cleaned).substr(label.size());
  if (!raw.ends_with(rest)) __builtin_trap();
  const std::string_view before = std::string_view(raw).substr(0, raw.size() - rest.size());
  if (!before.ends_with("[SQL Server]") && !before.ends_with("[ODBC Microsoft Access Driver]")) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  test::Connection connection;
  const int items = in.byte() % 8;
  for (int i = 0; i < items; ++i) {
    auto e = test::object();
    for (const char* member : {"NativeError", "Description", "Source", "SQLState", "Number"})
      if (in.byte() % 8 != 0) e->set(member, in.scalar());  // now and then a member is missing
    connection.errors->push_back(e);
  }
  if (in.byte() % 4 == 0) connection.cn->set("Errors", in.scalar());  // not a collection at all
  if (in.byte() % 4 == 0) {
    // A Count that is not the number of items: Item still fails past the real ones.
    const Variant count = in.scalar();
    auto errors = test::collection(connection.errors);
    errors->set("Count", count);
    connection.cn->set("Errors", Variant(ObjectRef(errors)));
  }
  const double number = in.number<double>();
  const std::string description = in.text();
  checkCleaned(description);
  checkCleaned(std::string(in.rest()));

  fake::Services services;
  services.files.folders.insert("/logs");
  clsErrHandler handler(services.platform);
  handler.Destination("/logs");
  handler.Cn(connection.cn);
  const int32_t result = handler.HandleError(description, number);
  if (result != 0) return 0;  // a number outside 32 bits: nothing was listed
  const std::string heading = "\r\nDATABASE ERROR MESSAGE(S)\r\n\r\n";
  const std::string& listing = handler.ErrDesc();
  const bool listed = listing.starts_with(heading);
  if (handler.ErrorType() == "1") {
    // A Count below one lists nothing; otherwise the entries are numbered from 1.
    if (!listed || (listing.size() > heading.size() && !listing.starts_with(heading + "DB ERROR 1\t"))) __builtin_trap();
    if (int64_t{handler.ErrNum()} != int64_t{roundToLong(number)} - err::kAutomationBase) __builtin_trap();
  } else if (listing != description && listing != CleanDBMessage(description)) {
    // Only a number that cannot be rebased leaves a listing without marking the error.
    if (!listed || int64_t{handler.ErrNum()} - err::kAutomationBase <= INT32_MAX) __builtin_trap();
  }
  // The report went out whole whatever the driver errors held.
  if (number != 0 && !services.files.files.count("/logs/Error.log")) __builtin_trap();
  return 0;
}
