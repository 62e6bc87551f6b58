#include "quenvar/sys_obj.h"
#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;
using HandlerProperties = HandlerFixture;

TEST_F(HandlerProperties, NewHandlerReadsAsDefaults) {
  EXPECT_EQ(handler.ErrNum(), 0);
  EXPECT_EQ(handler.ErrLine(), "0");
  EXPECT_EQ(handler.ErrorType(), "0");
  EXPECT_EQ(*handler.CustomErrMessage().string(), "");
  EXPECT_EQ(handler.ErrDesc() + handler.ProcName() + handler.ErrorLogDisplay() + handler.Destination(), "");
  EXPECT_EQ(names(handler.CallStack()), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(handler.CallStack().lowerBound, 0);
  EXPECT_FALSE(handler.LogEvent() || handler.ShowAppInfo() || handler.ShowSysInfo() || handler.ShowDBInfo());
  EXPECT_EQ(handler.Cn(), nullptr);
  EXPECT_TRUE(services.files.files.empty()) << "creation touches nothing";
}

TEST_F(HandlerProperties, ConnectionMustBeOpen) {
  Connection open, closed("");
  handler.Cn(open.cn);
  try {
    handler.Cn(closed.cn);
    FAIL() << "a closed connection was accepted";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), -2147220502);
    EXPECT_EQ(e.source(), "Vantrelo");
    EXPECT_EQ(e.description(), "ADO connection must be open before passing to the Error Object");
  }
  EXPECT_EQ(handler.Cn(), open.cn);

  EXPECT_EQ(failureNumber([&] { handler.Cn(object()); }), err::kNoSuchMember);
  EXPECT_EQ(failureNumber([&] { handler.Cn(nullptr); }), err::kObjectNotSet);
  EXPECT_EQ(handler.Cn(), open.cn);

  auto nullString = object();
  nullString->set("connectionstring", Variant::null());
  handler.Cn(nullString);
  EXPECT_EQ(handler.Cn(), nullString);
}

TEST_F(HandlerProperties, AdoVersionIsReadEveryTime) {
  EXPECT_EQ(failureNumber([&] { handler.ADOVersion(); }), err::kObjectNotSet);
  Connection c;
  handler.Cn(c.cn);
  EXPECT_EQ(handler.ADOVersion(), "2.8");
  c.cn->set("Version", 6.1);
  EXPECT_EQ(handler.ADOVersion(), "6.1");
}

TEST_F(HandlerProperties, ApplicationObjectGivesTheMailSubject) {
  auto app = application();
  handler.AppObject(app);
  EXPECT_EQ(handler.MailSubject(), "Ledger 2.0.15 Application Error");

  auto partial = application();
  partial->remove("Revision");
  EXPECT_EQ(failureNumber([&] { handler.AppObject(partial); }), err::kNoSuchMember);
  EXPECT_EQ(handler.AppObject(), partial) << "the object stays set";
  EXPECT_EQ(handler.MailSubject(), "Ledger 2.0.15 Application Error");
}

TEST_F(HandlerProperties, DestinationDropsOneTrailingSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"/logs/a\\", "/logs/a"},       {"/logs/b/  ", "/logs/b"}, {"/logs/c\\\\", "/logs/c\\"},
      {" /logs/d", " /logs/d"},       {"  /logs/e/ ", "/logs/e"}, {"/logs/f  ", "/logs/f  "},
  };
  for (auto [given, stored] : cases) {
    services.files.folders.insert(stored);
    handler.Destination(given);
    EXPECT_EQ(handler.Destination(), stored) << "given [" << given << "]";
  }
}

TEST_F(HandlerProperties, DestinationCreatesOneMissingFolder) {
  handler.Destination("/logs/new");
  EXPECT_TRUE(services.files.folders.count("/logs/new"));
  handler.Destination("/logs/new/");
  EXPECT_EQ(services.files.folders.size(), 3u);

  services.files.files["/logs/file"] = "x";
  handler.Destination("/logs/file");
  EXPECT_EQ(handler.Destination(), "/logs/file");
  EXPECT_FALSE(services.files.folders.count("/logs/file"));

  EXPECT_EQ(failureNumber([&] { handler.Destination("/missing/child"); }), err::kPathNotFound);
  EXPECT_EQ(handler.Destination(), "/missing/child") << "stored before the folder step fails";
}

TEST_F(HandlerProperties, DestinationOfNoNameIsStoredAndFilledInLater) {
  // An empty name looks up the current folder, which is there: nothing is created or refused.
  for (const char* given : {"", "/", "\\", "  /  "}) {
    const size_t folders = services.files.folders.size();
    EXPECT_EQ(failureNumber([&] { handler.Destination(given); }), 0) << "given [" << given << "]";
    EXPECT_EQ(handler.Destination(), "") << "given [" << given << "]";
    EXPECT_EQ(services.files.folders.size(), folders) << "given [" << given << "]";
  }
  services.files.folders.insert("/opt/quenvar");
  ASSERT_EQ(handler.HandleError("x", 1), 0);
  EXPECT_EQ(handler.Destination(), "/opt/quenvar");
  EXPECT_TRUE(services.files.files.count("/opt/quenvar/Error.log"));
}

TEST_F(HandlerProperties, SysObjectIsMadeOnceAndKept) {
  auto first = handler.SysObject();
  EXPECT_EQ(first, handler.SysObject());
  EXPECT_EQ(first->PlatForm(), "WinNT");
}

}  // namespace
}  // namespace quenvar
