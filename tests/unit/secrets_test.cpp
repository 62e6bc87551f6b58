#include <gtest/gtest.h>

#include "report/secrets.h"

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
  };
  for (auto [in, out] : cases) EXPECT_EQ(maskSecretItems(in), out) << in;
}

}  // namespace
}  // namespace quenvar
