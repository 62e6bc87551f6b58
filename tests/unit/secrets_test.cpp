#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "quenvar/err_handler.h"
#include "report/secrets.h"
#include "test_support.h"

namespace quenvar {
namespace {

TEST(Secrets, NamesThatHoldPasswords) {
  for (const char* name : {"Password", "PWD", "Jet OLEDB:Database Password", "user pwd", "PASSWORD"})
    EXPECT_TRUE(isSecretName(name)) << name;
  for (const char* name : {"Provider", "Persist Security Info", "User ID"}) EXPECT_FALSE(isSecretName(name)) << name;
}

TEST(Secrets, ItemsInsideValuesAreMasked) {
  const std::pair<const char*, const char*> cases[] = {
      {"DSN=x;UID=u;PWD=p;APP=a", "DSN=x;UID=u;PWD=********;APP=a"},
      {"Password=p", "Password=********"},
      {"pwd = secret ;Server=s", "pwd = ********;Server=s"},
      {"Jet OLEDB:Database Password=abc;Mode=1", "Jet OLEDB:Database Password=********;Mode=1"},
      {"PWD={a;b}}c};DB=d", "PWD=********;DB=d"},
      {"Password=\"x;\"\"y\";DB=d", "Password=********;DB=d"},
      {"PWD=;DB=d", "PWD=;DB=d"},
      {"no items here", "no items here"},
      {"a;b;c=d", "a;b;c=d"},
      {"PWD={unterminated", "PWD=********"},
      // Items inside a quoted or braced value, escapes kept; whitespace of any kind before a
      // quoted value; a value going on after its closing quote.
      {"Extended Properties=\"DSN=x;UID=sa;PWD=secret\";Mode=1", "Extended Properties=\"DSN=x;UID=sa;PWD=********\";Mode=1"},
      {"X={A=1;Password={p;}}w}};B=2}", "X={A=1;Password=********;B=2}"},
      {"X='a=\"\"q\"\"'", "X='a=\"\"q\"\"'"},
      {"X=\"A=\"\"x\"\";Pwd=\"\"s;t\"\"\"", "X=\"A=\"\"x\"\";Pwd=********\""},
      {"X=\"Y='Z={PWD=deep}'\"", "X=\"Y='Z={PWD=********}'\""},
      {"X=\"PWD=open", "X=\"PWD=********"},
      {"PWD=\t\"sec;ret\";DB=d", "PWD=\t********;DB=d"},
      {"PWD=\r\n {sec;ret}", "PWD=\r\n ********"},
      {"Password=\"abc\"def;DB=d", "Password=********;DB=d"},
      {"Name=\"abc\"def;DB=d", "Name=\"abc\"def;DB=d"},
  };
  for (auto [in, out] : cases) EXPECT_EQ(maskSecretItems(in), out) << in;
}

// A parameter is masked as a connection property is: by its name, never read, or item by item.
TEST(Secrets, ParametersNamedLikePasswordsAreMasked) {
  test::onFreshThread([] {
    fake::Services s;
    clsErrHandler h(s.platform);
    auto secret = test::object();
    // Read, it would empty the whole text.
    secret->setDefault([](std::span<const Variant>) -> Variant { throw std::logic_error("read"); });
    const std::tuple<const char*, Variant, const char*> params[] = {{"Password", Variant("hunter2"), "********"},
                                                                    {"strPwd", Variant(ObjectRef(secret)), "********"},
                                                                    {"sConnect", Variant("DSN=x;PWD=hunter2"), "DSN=x;PWD=********"},
                                                                    {"User", Variant("clerk"), "clerk"}};
    h.Push("Login");
    for (const auto& [name, value, shown] : params) h.AddParam(name, "String", value);
    const std::string text = h.ShowParam();
    for (const auto& [name, value, shown] : params)
      EXPECT_NE(text.find(std::string("Name: \t") + name + "\r\nType : \tString\r\nValue: \t" + shown + "\r\n"),
                std::string::npos) << name;
    h.HandleError("x", 1);
    EXPECT_EQ(h.ErrorLogDisplay().find("hunter2"), std::string::npos);
  });
}

}  // namespace
}  // namespace quenvar
