// Client objects that fail in every way a member can, answer with values of every kind, or
// lie about their collections: the report keeps what it can read and HandleError completes.

#include <cmath>
#include <optional>

#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

const char* const kAppMembers[] = {"Title", "CompanyName", "Major", "Minor", "Revision", "Path",
                                   "ProductName", "Comments", "EXEName", "FileDescription", "HelpFile",
                                   "LegalCopyright", "LegalTrademarks", "LogMode", "LogPath"};

// A member failing with an automation error, a native exception, and something not even that.
const DynamicObject::Member kThrowers[] = {
    [](std::span<const Variant>) -> Variant { throw AutomationError(3265, "Item not found"); },
    [](std::span<const Variant>) -> Variant { throw std::runtime_error("client bug"); },
    [](std::span<const Variant>) -> Variant { throw 42; },
};

std::shared_ptr<DynamicObject> withDefault(DynamicObject::Member m) {
  auto o = object();
  o->setDefault(std::move(m));
  return o;
}

// The connection's own collection object, to make it lie.
std::shared_ptr<DynamicObject> collectionOf(const Connection& c, const char* name) {
  return std::static_pointer_cast<DynamicObject>(getObject(c.cn, name));
}

struct Hostile : HandlerFixture {
  Connection connection;
  Hostile() { handler.Destination("/logs"); }
  // Handles an error; the stack must be unwound whatever the objects did.
  void handle() {
    EXPECT_EQ(handler.HandleError("Boom", 5, 7), 0);
    EXPECT_EQ(handler.CallStack().items.size(), 1u);
  }
};

TEST_F(Hostile, ThrowingMembersLoseOnlyTheirLines) {
  for (const auto& thrower : kThrowers) {
    auto app = object();
    for (const char* name : kAppMembers) app->on(name, thrower);
    // The assignment reads the mail subject: the failure is the caller's, the object is kept.
    EXPECT_ANY_THROW(handler.AppObject(app));
    EXPECT_EQ(handler.AppObject(), app);
    auto cn = object();
    cn->set("ConnectionString", "DSN=x").on("Version", thrower).on("Properties", thrower).on("Errors", thrower);
    handler.Cn(cn);
    handler.Push("Main");
    handler.AddParam("Broken", "Object", Variant(ObjectRef(withDefault(thrower))));
    EXPECT_EQ(handler.ShowParam(), "");

    handle();
    EXPECT_EQ(handler.ErrDesc(), "Boom");
    const std::string& report = handler.ErrorLogDisplay();
    EXPECT_EQ(report.find("Error Information"), std::string::npos) << "the heading needs the title";
    EXPECT_NE(report.find("Error Procedure:\tMain\r\n"), std::string::npos);
    EXPECT_EQ(report.find("Title:"), std::string::npos);
    EXPECT_NE(report.find("Current Directory:\t/work\r\n"), std::string::npos);
    EXPECT_EQ(handler.AppLogDisplay(), "App. Information\r\n=============\r\n\r\n");
    EXPECT_EQ(handler.DbLogDisplay(), "Database Information\r\n==============\r\n\r\n");
    EXPECT_EQ(services.files.files.at("/logs/Error.log"), report + "\r\n");
  }
}

TEST_F(Hostile, ValuesOfEveryKind) {
  auto inner = withDefault([](std::span<const Variant>) { return Variant("inner"); });
  auto outer = withDefault([inner](std::span<const Variant>) { return Variant(ObjectRef(inner)); });
  auto selfish = object();
  selfish->setDefault([weak = std::weak_ptr<DynamicObject>(selfish)](std::span<const Variant>) {
    return Variant(ObjectRef(weak.lock()));
  });
  const std::string huge(24 << 20, 'h');
  const std::string nul("a\0b", 3), badUtf8("\xff\xfe\xc3(\xed\xa0\x80");
  struct Case {
    const char* what;
    Variant value;
    std::optional<std::string> text;  // none: the value has no text
    bool mismatch = false;            // a parameter then shows "-----" rather than failing the list
  } cases[] = {
      {"empty", Variant(), ""},
      {"null", Variant::null(), ""},
      {"array", Variant(VariantArray{0, {Variant(int32_t{1}), Variant("two")}}), std::nullopt, true},
      {"error value", Variant(ErrorValue{448}), std::nullopt, true},
      {"default member chain", Variant(ObjectRef(outer)), "inner"},
      {"default member returning itself", Variant(ObjectRef(selfish)), std::nullopt, true},
      {"no default member", Variant(ObjectRef(object())), std::nullopt},
      {"unset object", Variant(ObjectRef()), std::nullopt},
      {"throwing default member", Variant(ObjectRef(withDefault(kThrowers[1]))), std::nullopt},
      {"date out of range", Variant(Date{1e300}), std::nullopt},
      {"24 MiB", Variant(huge), huge},
      {"embedded NUL", Variant(nul), nul},
      {"invalid UTF-8", Variant(badUtf8), badUtf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto app = application();
    app->set("Comments", c.value);
    handler.AppObject(app);
    connection.properties->assign({property("Odd", c.value)});
    handler.Cn(connection.cn);
    handler.Push("Main");
    handler.AddParam("v", "Variant", c.value);
    const std::string params = handler.ShowParam();
    handle();

    const std::string appLine = "Comments:\t" + c.text.value_or("") + "\r\n";
    const std::string dbLine = "Odd : " + c.text.value_or("") + "\r\n";
    EXPECT_EQ(handler.AppLogDisplay().find(appLine) != std::string::npos, c.text.has_value());
    EXPECT_EQ(handler.AppLogDisplay().find("Comments:") != std::string::npos, c.text.has_value());
    EXPECT_EQ(handler.DbLogDisplay().find("Odd :") != std::string::npos, c.text.has_value());
    EXPECT_EQ(handler.DbLogDisplay().find(dbLine) != std::string::npos, c.text.has_value());
    EXPECT_NE(handler.AppLogDisplay().find("Log Path:"), std::string::npos) << "later lines still come";
    const std::string head = "\r\n1st Param:\r\nName: \tv\r\nType : \tVariant\r\nValue: \t";
    const std::string want = c.text ? head + *c.text + "\r\n" : c.mismatch ? head + "-----\r\n" : "";
    EXPECT_EQ(params, want);
  }
}

TEST_F(Hostile, SecretsAreMaskedInHugeValuesInLinearTime) {
  // Four million items without '=': searching the rest of the value for each was quadratic.
  std::string value;
  for (int i = 0; i < 4'000'000; ++i) value += "k;";
  connection.properties->assign({property("Extended Properties", value + "PWD=s3cret")});
  handler.Cn(connection.cn);
  handle();
  EXPECT_NE(handler.DbLogDisplay().find("Extended Properties : " + value + "PWD=********\r\n"), std::string::npos);
}

TEST_F(Hostile, CollectionsThatLie) {
  connection.properties->assign({property("A", "1"), property("B", "2")});
  handler.Cn(connection.cn);
  auto props = collectionOf(connection, "Properties");
  const std::string listed = "ADO Version : 2.8\r\nA : 1\r\nB : 2\r\n";
  const auto bareItems = [](std::span<const Variant>) { return Variant(); };
  struct Case {
    const char* what;
    std::optional<Variant> count;
    std::optional<DynamicObject::Member> item;
    std::string lines;
  } cases[] = {
      {"honest", std::nullopt, std::nullopt, listed},
      // Counts far beyond the items end at the first index the collection cannot give.
      {"count 2^31 - 1", Variant(int32_t{INT32_MAX}), std::nullopt, listed},
      {"count 2^31 - 1, items are not objects", Variant(int32_t{INT32_MAX}), bareItems, "ADO Version : 2.8\r\n"},
      {"negative count", Variant(int32_t{-3}), std::nullopt, "ADO Version : 2.8\r\n"},
      {"count beyond 32 bits", Variant(1e300), std::nullopt, "ADO Version : 2.8\r\n"},
      {"count not a number", Variant("many"), std::nullopt, "ADO Version : 2.8\r\n"},
      {"item throws", std::nullopt, kThrowers[1], "ADO Version : 2.8\r\n"},
  };
  auto honestCount = props->invoke("Count", {});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    props->set("Count", c.count.value_or(honestCount));
    if (c.item) props->on("Item", *c.item);
    handle();
    EXPECT_EQ(handler.DbLogDisplay(), "Database Information\r\n==============\r\n\r\n" + c.lines);
  }

  // Driver errors behind a lying count: the listing stops at the first error it cannot read and
  // leaves the error as the client gave it, its collection uncleared.
  Connection lying;
  lying.errors->assign({driverError(1205, "deadlocked", "driver", "40001", -2147467259)});
  collectionOf(lying, "Errors")->set("Count", int32_t{INT32_MAX});
  handler.Cn(lying.cn);
  handle();
  EXPECT_EQ(handler.ErrDesc(), "Boom");
  EXPECT_EQ(handler.ErrNum(), 5);
  EXPECT_EQ(handler.ErrorType(), "0");
  EXPECT_EQ(lying.errors->size(), 1u);
}

TEST_F(Hostile, LogFoldersWithNulAreRefused) {
  // The system would read the folder only up to the NUL, that is as the file "victim.txt".
  services.files.files["/logs/victim.txt"] = "keep";
  using namespace std::string_literals;
  EXPECT_EQ(failureNumber([&] { handler.Destination("/logs/victim.txt\0x"s); }), err::kBadFileName);
  EXPECT_EQ(handler.Destination(), "/logs");
  EXPECT_EQ(services.files.folders.count("/logs/victim.txt\0x"s), 0u);
}

}  // namespace
}  // namespace quenvar
