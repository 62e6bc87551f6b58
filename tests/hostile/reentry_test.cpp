// Members and events that call back into the handler while it reads them: re-entered
// HandleError, the stack changed, the very object being read replaced and released.

#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

struct Reentry : HandlerFixture {
  Connection connection;
  Reentry() {
    handler.Destination("/logs");
    handler.Cn(connection.cn);
  }
};

TEST_F(Reentry, MemberReadsThatCallBack) {
  std::vector<int32_t> inner;
  auto app = application();
  app->on("CompanyName", [&](std::span<const Variant>) {
    if (!inner.empty()) return Variant("Palvenor");
    inner.push_back(handler.HandleError("inner", 9));
    inner.push_back(handler.Push("Sneaky"));
    inner.push_back(handler.Pop());
    inner.push_back(handler.Pop());  // one of the client's own entries
    handler.CurrentOperation("changed mid-report");
    return Variant("Palvenor");
  });
  handler.AppObject(app);
  handler.Push("Main");
  handler.Push("Load");
  // A parameter whose text empties the stack and adds to it while the list is being read.
  auto greedy = object();
  greedy->setDefault([&](std::span<const Variant>) {
    while (handler.StackDepth() > 0) handler.Pop();
    handler.AddParam("Late", "String", "x");
    return Variant("greedy");
  });
  handler.AddParam("Greedy", "Object", Variant(ObjectRef(greedy)));
  EXPECT_EQ(handler.HandleError("outer", 5), 0);
  EXPECT_EQ(inner, (std::vector<int32_t>{err::kHandlerBusy, 0, 0, 0}));
  EXPECT_EQ(handler.ErrDesc(), "outer");
  EXPECT_EQ(handler.CallStack().items.size(), 1u);
  EXPECT_NE(handler.ErrorLogDisplay().find("Value: \tgreedy\r\n"), std::string::npos);
  EXPECT_NE(handler.AppLogDisplay().find("CompanyName:\tPalvenor\r\n"), std::string::npos);
  EXPECT_EQ(handler.CurrentOperation(), "changed mid-report");
}

TEST_F(Reentry, ObjectsReleasedWhileTheirMemberRuns) {
  // Each object's member replaces that object in the handler, dropping the last reference to
  // it; the object must live until its member has returned.
  bool appFreedMidRead = false, cnFreedMidRead = false;
  std::weak_ptr<Object> appWatch, cnWatch;
  {
    auto app = application();
    app->on("Title", [&](std::span<const Variant>) {
      handler.AppObject(application());
      appFreedMidRead = appFreedMidRead || appWatch.expired();
      return Variant("Gone");
    });
    handler.AppObject(app);
    appWatch = app;
    Connection fickle;
    fickle.cn->on("Errors", [&](std::span<const Variant>) {
      handler.Cn(connection.cn);
      cnFreedMidRead = cnWatch.expired();
      return Variant();
    });
    handler.Cn(fickle.cn);
    cnWatch = fickle.cn;
  }
  handler.Push("Main");
  EXPECT_EQ(handler.HandleError("Boom", 5), 0);
  EXPECT_FALSE(appFreedMidRead);
  EXPECT_FALSE(cnFreedMidRead);
  EXPECT_TRUE(appWatch.expired());
  EXPECT_TRUE(cnWatch.expired());
  EXPECT_NE(handler.ErrorLogDisplay().find("Gone Application Error Information"), std::string::npos);
}

struct Sink : HandlerEvents {
  std::function<void(bool&)> before = [](bool&) {};
  std::function<void()> after = [] {};
  void BeforeHandlerCalled(bool& cancel) override { before(cancel); }
  void AfterHandlerCalled() override { after(); }
};

TEST_F(Reentry, EventsThatThrowAnything) {
  auto sink = std::make_shared<Sink>();
  handler.advise(sink);
  handler.Push("Main");
  // Before the report the handler stops on any failure: the number is the runtime's internal error.
  sink->before = [](bool&) { throw std::runtime_error("sink bug"); };
  EXPECT_EQ(handler.HandleError("Boom", 5), 51);
  EXPECT_EQ(handler.StackDepth(), 1);
  EXPECT_EQ(handler.ErrorLogDisplay(), "");
  // After the report a failure only loses its step; the stack is still unwound.
  sink->before = [&](bool&) { handler.AppObject(application()); };
  sink->after = [] { throw 7; };
  EXPECT_EQ(handler.HandleError("Boom", 5), 0);
  EXPECT_EQ(handler.StackDepth(), 0);
  EXPECT_NE(handler.ErrorLogDisplay().find("Orders Application Error Information"), std::string::npos);
}

}  // namespace
}  // namespace quenvar
