#pragma once
// Client objects as a real application would hand them over: an application object and an
// ADO-like connection with properties and a driver error collection.

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "quenvar/automation_error.h"
#include "quenvar/dynamic_object.h"

namespace quenvar::test {

inline std::shared_ptr<DynamicObject> object() { return std::make_shared<DynamicObject>(); }

// A 0-based collection with Count, Item(i), Clear and Refresh; `refresh` refills it.
inline std::shared_ptr<DynamicObject> collection(std::shared_ptr<std::vector<ObjectRef>> items) {
  auto c = object();
  c->on("Count", [items](std::span<const Variant>) { return Variant(static_cast<int32_t>(items->size())); });
  c->on("Item", [items](std::span<const Variant> args) {
    if (args.empty()) throw AutomationError(err::kInvalidCall, "Item needs an index");
    int32_t i = args[0].toLong();
    if (i < 0 || static_cast<size_t>(i) >= items->size()) throw AutomationError(3265, "Item not found");
    return Variant((*items)[static_cast<size_t>(i)]);
  });
  c->on("Clear", [items](std::span<const Variant>) {
    items->clear();
    return Variant();
  });
  c->set("Refresh", Variant());
  return c;
}

inline std::shared_ptr<DynamicObject> application() {
  auto app = object();
  app->set("Title", "Orders")
      .set("CompanyName", "Palvenor Ltd")
      .set("Major", int16_t{2})
      .set("Minor", int16_t{0})
      .set("Revision", int16_t{15})
      .set("Path", "/srv/orders")
      .set("ProductName", "Ledger")
      .set("Comments", "Order entry")
      .set("EXEName", "Orders")
      .set("FileDescription", "Orders client")
      .set("HelpFile", "")
      .set("LegalCopyright", "(c) Palvenor")
      .set("LegalTrademarks", "")
      .set("LogMode", int32_t{0})
      .set("LogPath", "");
  return app;
}

inline ObjectRef property(const char* name, Variant value) {
  auto p = object();
  p->set("Name", name).set("Value", std::move(value));
  return p;
}

inline ObjectRef driverError(int32_t native, const char* description, const char* source,
                             const char* state, int32_t number) {
  auto e = object();
  e->set("NativeError", native)
      .set("Description", description)
      .set("Source", source)
      .set("SQLState", state)
      .set("Number", number);
  return e;
}

struct Connection {
  std::shared_ptr<DynamicObject> cn = object();
  std::shared_ptr<std::vector<ObjectRef>> properties = std::make_shared<std::vector<ObjectRef>>();
  std::shared_ptr<std::vector<ObjectRef>> errors = std::make_shared<std::vector<ObjectRef>>();

  explicit Connection(const char* connectionString = "Provider=MSDASQL;DSN=Orders") {
    cn->set("ConnectionString", connectionString)
        .set("Version", "2.8")
        .set("Properties", Variant(ObjectRef(collection(properties))))
        .set("Errors", Variant(ObjectRef(collection(errors))));
  }
};

// ProcParams is per thread: tests that need a thread on which nothing was pushed yet run there.
inline void onFreshThread(const std::function<void()>& body) {
  std::exception_ptr failure;
  std::thread t([&] {
    try {
      body();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quenvar::test
