// A desktop database client in miniature: it hands the handler its application object and
// connection, records where it is, and lets the handler report a failed posting.
//
//   quenvar_demo [log folder] [--trace] [--event-log] [--collector DSN]

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "quenvar/automation_error.h"
#include "quenvar/collector.h"
#include "quenvar/dynamic_object.h"
#include "quenvar/err_handler.h"

using namespace quenvar;

namespace {

std::shared_ptr<DynamicObject> makeCollection(std::vector<ObjectRef> items) {
  auto shared = std::make_shared<std::vector<ObjectRef>>(std::move(items));
  auto c = std::make_shared<DynamicObject>();
  c->on("Count", [shared](std::span<const Variant>) { return Variant(static_cast<int32_t>(shared->size())); });
  c->on("Item", [shared](std::span<const Variant> args) {
    if (args.empty()) throw AutomationError(5, "Item needs an index");
    return Variant(shared->at(static_cast<size_t>(args[0].toLong())));
  });
  c->on("Clear", [shared](std::span<const Variant>) {
    shared->clear();
    return Variant();
  });
  c->set("Refresh", Variant());
  return c;
}

ObjectRef named(const char* name, Variant value) {
  auto p = std::make_shared<DynamicObject>();
  p->set("Name", name).set("Value", std::move(value));
  return p;
}

ObjectRef driverError(int32_t native, const char* description, int32_t number) {
  auto e = std::make_shared<DynamicObject>();
  e->set("NativeError", native)
      .set("Description", description)
      .set("Source", "Microsoft OLE DB Provider for ODBC Drivers")
      .set("SQLState", "23000")
      .set("Number", number);
  return e;
}

struct Events : HandlerEvents {
  void BeforeHandlerCalled(bool&) override { std::cerr << "[client] BeforeHandlerCalled\n"; }
  void AfterHandlerCalled() override { std::cerr << "[client] AfterHandlerCalled\n"; }
};

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "demo-logs";
  std::string dsn;
  bool trace = false, eventLog = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--trace")) trace = true;
    else if (!std::strcmp(argv[i], "--event-log")) eventLog = true;
    else if (!std::strcmp(argv[i], "--collector") && i + 1 < argc) dsn = argv[++i];
    else folder = argv[i];
  }

  auto app = std::make_shared<DynamicObject>();
  app->set("Title", "Orders").set("CompanyName", "Palvenor Ltd").set("Major", int16_t{2})
      .set("Minor", int16_t{0}).set("Revision", int16_t{15}).set("Path", folder)
      .set("ProductName", "Ledger").set("Comments", "Order entry").set("EXEName", "quenvar_demo")
      .set("FileDescription", "Orders client").set("HelpFile", "").set("LegalCopyright", "(c) Palvenor")
      .set("LegalTrademarks", "").set("LogMode", int32_t{0}).set("LogPath", "");

  auto cn = std::make_shared<DynamicObject>();
  cn->set("ConnectionString", "Provider=MSDASQL.1;DSN=Orders;UID=clerk;PWD=s3cret")
      .set("Version", "2.8")
      .set("Properties", Variant(ObjectRef(makeCollection({
                             named("Provider", "MSDASQL.1"),
                             named("Password", "s3cret"),
                             named("Extended Properties", "DSN=Orders;UID=clerk;PWD=s3cret"),
                             named("Connect Timeout", int32_t{15}),
                         }))))
      .set("Errors", Variant(ObjectRef(makeCollection({
                         driverError(2627, "[Microsoft][ODBC SQL Server Driver][SQL Server]Violation of PRIMARY KEY constraint 'PK_Invoice'.", -2147217873),
                     }))));

  clsErrHandler handler;
  Collector collector;
  try {
    if (!dsn.empty()) collector.Dsn(dsn);
    handler.Destination(folder);
    handler.AppObject(app);
    handler.Cn(cn);
  } catch (const AutomationError& e) {
    std::cerr << "set-up failed: " << e.number() << " " << e.description() << "\n";
    return 1;
  }
  handler.advise(std::make_shared<Events>());
  handler.TraceExecution(trace);
  handler.LogEvent(eventLog);
  handler.CurrentOperation("Posting invoice 1042");

  handler.Push("Main");
  handler.Push("LoadInvoices");
  handler.Push("PostInvoice");
  handler.AddParam("InvoiceId", "Long", Variant(int32_t{1042}));
  handler.AddParam("Amount", "Currency", Variant(Currency{1250000}));

  int32_t status = handler.HandleError("Automation error", -2147217873, 120, "The invoice could not be posted.");

  std::cout << handler.ErrorLogDisplay() << "\r\n\r\n"
            << handler.AppLogDisplay() << "\r\n"
            << handler.SysLogDisplay() << "\r\n\r\n"
            << handler.DbLogDisplay();
  std::cerr << "[client] HandleError returned " << status << "; Error.log is in "
            << handler.Destination() << "; stack depth now " << handler.StackDepth() << "\n";
  if (!dsn.empty()) {
    // At the end of a run, what waits is given a few seconds; what still waits goes next run.
    const int32_t waiting = collector.Flush(10000);
    std::cerr << "[client] collector: event " << collector.LastEventId() << ", " << waiting << " still waiting"
              << (waiting > 0 ? " (" + collector.LastError() + ")" : "") << "\n";
  }
  return status == 0 ? 0 : 2;
}
