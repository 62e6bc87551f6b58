#include "handler/procedures.h"
#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;
using Names = std::vector<std::string>;

TEST(CallStack, PushAndPopKeepTheNameTableInStep) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    EXPECT_EQ(names(h.CallStack()), (Names{"", ""}));
    EXPECT_EQ(h.Push("A"), 0);
    EXPECT_EQ(h.Push("B"), 0);
    EXPECT_EQ(names(h.CallStack()), (Names{"", "A", "B"}));
    EXPECT_EQ(h.StackDepth(), 2);
    EXPECT_EQ(h.Pop(), 0);
    EXPECT_EQ(names(h.CallStack()), (Names{"", "A"}));
    EXPECT_EQ(h.Pop(), 0);
    EXPECT_EQ(names(h.CallStack()), (Names{""}));
    EXPECT_EQ(h.Pop(), 0);
    EXPECT_EQ(names(h.CallStack()), (Names{""}));
    EXPECT_EQ(h.StackDepth(), 0);
    EXPECT_EQ(h.Push(""), 0) << "any name is accepted";
  });
}

// Names as automation clients hand them over, each onto the entry an ASCII name of as many
// characters left (the in-place path, which must give way to the conversion whole when the name
// is not ASCII), again onto its own, and the ASCII name back onto it.
TEST(CallStack, Utf16NamesReadAsUtf8OnEveryPath) {
  const struct {
    std::u16string name;
    std::string utf8;
  } cases[] = {
      {u"PostInvoice", "PostInvoice"},
      {u"", ""},
      {u"Stra\u00DFe", "Stra\xC3\x9F" "e"},
      {u"Euro\u20AC", "Euro\xE2\x82\xAC"},
      {u"Clef\U0001D11E", "Clef\xF0\x9D\x84\x9E"},
      {std::u16string(u"lone\xD800high", 9), "lone\xEF\xBF\xBDhigh"},
      {std::u16string(u"lone\xDC00low", 8), "lone\xEF\xBF\xBDlow"},
      {std::u16string(u"end\xD834", 4), "end\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    onFreshThread([&] {
      fake::Services s;
      clsErrHandler h(s.platform);
      EXPECT_EQ(h.Push(u"Main"), 0);
      const std::u16string same(c.name.size(), u'x');
      for (const std::u16string* name : {&same, &c.name, &c.name, &same}) {
        EXPECT_EQ(h.Push(*name), 0);
        const std::string expected = name == &same ? std::string(same.size(), 'x') : c.utf8;
        EXPECT_EQ(names(h.CallStack()), (Names{"", "Main", expected})) << c.utf8;
        EXPECT_EQ(h.Pop(), 0);
      }
    });
  }
}

// A name no string can hold, onto an entry that kept another: the Push fails as out of memory,
// shows nothing of either name and still counts itself, as when the stack cannot grow.
TEST(CallStack, APushThatCannotKeepItsNameStillCountsItself) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    h.Push("Alpha");
    h.Pop();
    const std::string_view unholdable("x", std::string().max_size() + 1);
    EXPECT_EQ(h.Push(unholdable), err::kOutOfMemory);
    EXPECT_EQ(names(h.CallStack()), (Names{""}));
    EXPECT_EQ(h.StackDepth(), 1);
    EXPECT_EQ(h.Push("Beta"), 0);
    EXPECT_EQ(names(h.CallStack()), (Names{"", "", "Beta"}));
  });
}

TEST(CallStack, ParameterTableExistsOnlyAfterTheThreadsFirstPush) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    EXPECT_EQ(failureNumber([&] { h.AddParam("x", "Long", Variant(int32_t{1})); }), err::kSubscript);
    EXPECT_EQ(failureNumber([&] { h.ShowParam(); }), err::kSubscript);
    EXPECT_EQ(h.Pop(), err::kSubscript);
    EXPECT_EQ(names(h.CallStack()), (Names{""}));
    EXPECT_EQ(h.StackDepth(), 0);

    // Back at depth 0 after a push, slot 0 takes parameters until it is released.
    h.Push("A");
    h.Pop();
    h.AddParam("Stray", "String", Variant("s"));
    EXPECT_EQ(h.ShowParam(), "\r\n1st Param:\r\nName: \tStray\r\nType : \tString\r\nValue: \ts\r\n");
  });
}

TEST(CallStack, ParameterTextListsEveryParameter) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    h.Push("Calc");
    EXPECT_EQ(h.ShowParam(), "\r\n");
    h.AddParam("CustomerId", "Long", Variant(int32_t{42}));
    h.AddParam("Name", "String", Variant("Smith"));
    EXPECT_EQ(h.ShowParam(),
              "\r\n1st Param:\r\nName: \tCustomerId\r\nType : \tLong\r\nValue: \t42\r\n"
              "\r\n2nd Param:\r\nName: \tName\r\nType : \tString\r\nValue: \tSmith\r\n");
    // A level left and entered again starts empty, however the Pop and the Push went.
    for (int round = 0; round < 3; ++round) {
      h.Push("Post");
      EXPECT_EQ(h.ShowParam(), "\r\n") << round;
      h.AddParam("Id", "Long", Variant(int32_t{round}));
      h.Pop();
    }
  });
}

TEST(CallStack, ValuesWithoutTextFormOrDefaultMember) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    h.Push("P");
    h.AddParam("List", "Variant()", Variant(VariantArray{0, {Variant(1.0)}}));
    h.AddParam("After", "Integer", Variant(int16_t{3}));
    EXPECT_EQ(h.ShowParam(),
              "\r\n1st Param:\r\nName: \tList\r\nType : \tVariant()\r\nValue: \t-----\r\n"
              "\r\n2nd Param:\r\nName: \tAfter\r\nType : \tInteger\r\nValue: \t3\r\n");

    h.Push("Q");
    h.AddParam("Form", "Object", Variant(ObjectRef(object())));
    h.AddParam("Later", "Long", Variant(int32_t{1}));
    EXPECT_EQ(h.ShowParam(), "") << "an object without default member empties the whole entry";
  });
}

TEST(CallStack, ObjectsAreReadWhenShownStringsWhenAdded) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    h.Push("P");
    auto counter = object();
    int32_t current = 1;
    counter->setDefault([&](std::span<const Variant>) { return Variant(current); });
    std::string text = "before";
    h.AddParam("Counter", "Object", Variant(ObjectRef(counter)));
    h.AddParam("Text", "String", Variant(text));
    current = 2;
    text = "after";
    EXPECT_NE(h.ShowParam().find("Value: \t2\r\n"), std::string::npos);
    EXPECT_NE(h.ShowParam().find("Value: \tbefore\r\n"), std::string::npos);
  });
}

TEST(CallStack, OrdinalsAndLongLists) {
  const std::pair<uint64_t, const char*> cases[] = {
      {1, "st"}, {2, "nd"}, {3, "rd"}, {4, "th"}, {11, "th"}, {12, "th"}, {13, "th"},
      {21, "st"}, {22, "nd"}, {23, "rd"}, {111, "th"}, {112, "th"}, {32768, "th"}, {40001, "st"}};
  for (auto [i, suffix] : cases) EXPECT_STREQ(Procedures::GetOrdinalSuffix(i), suffix) << i;

  onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    h.Push("Bulk");
    // Past a 16-bit counter's range: every parameter keeps its own number.
    for (int32_t i = 1; i <= 32770; ++i) h.AddParam("p", "Long", Variant(i));
    std::string text = h.ShowParam();
    EXPECT_NE(text.find("\r\n12th Param:\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n22nd Param:\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n32768th Param:\r\nName: \tp\r\nType : \tLong\r\nValue: \t32768\r\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n32770th Param:\r\nName: \tp\r\nType : \tLong\r\nValue: \t32770\r\n"));
  });
}

TEST(CallStack, HandlersOfOneThreadShareParametersThreadsDoNot) {
  onFreshThread([] {
    fake::Services s;
    clsErrHandler first(s.platform), second(s.platform);
    first.Push("Outer");
    first.AddParam("Shared", "Long", Variant(int32_t{7}));
    second.Push("Other");
    EXPECT_NE(second.ShowParam().find("Name: \tShared"), std::string::npos);

    first.Push("Inner");
    first.AddParam("Key", "Long", Variant(int32_t{8}));
    // The second handler's Pop shrinks the shared table to its own depth of 0.
    EXPECT_EQ(second.Pop(), 0);
    EXPECT_EQ(failureNumber([&] { first.ShowParam(); }), err::kSubscript);
    EXPECT_EQ(first.Pop(), err::kSubscript);
    // That Pop cut the stack before it was refused, so the depth runs ahead of it until a Push
    // brings the two back in step, the entry passed over reading empty.
    EXPECT_EQ(first.StackDepth(), 2);
    first.TraceExecution(true);  // and off again: that ends only the tracing's own hold
    first.TraceExecution(false);
    second.Push("Other");
    EXPECT_EQ(first.Push("Again"), 0);
    EXPECT_EQ(names(first.CallStack()), (Names{"", "Outer", "", "Again"}));
    EXPECT_EQ(first.Pop(), 0);
    EXPECT_EQ(first.Pop(), 0);
    EXPECT_EQ(first.StackDepth(), 1);
    // A new stack holds two entries at depth 0, likewise out of step until its first move.
    clsErrHandler third(s.platform);
    EXPECT_EQ(third.Pop(), 0);
    EXPECT_EQ(third.StackDepth(), 0);
    EXPECT_EQ(names(third.CallStack()), (Names{""}));

    onFreshThread([] {
      fake::Services other;
      clsErrHandler h(other.platform);
      EXPECT_EQ(failureNumber([&] { h.AddParam("x", "Long", Variant(int32_t{1})); }), err::kSubscript);
    });
  });
}

}  // namespace
}  // namespace quenvar
