#include "platform/win32/secret_store_dpapi.h"

#include <gtest/gtest.h>

#include <vector>

#include "win32_test_support.h"

namespace quenvar {
namespace {

using testing::errorNumber;

TEST(DpapiSecretStore, ProtectedForTheUserAndNeverStoredInClear) {
  const std::string app = "QuenvarTest-" + std::to_string(::GetCurrentProcessId());
  const std::wstring key = L"Software\\Quenvar\\Secrets\\" + win32::widen(app);
  DpapiSecretStore secrets;
  EXPECT_EQ(secrets.get(app, "Password"), std::nullopt);
  const std::string secret("app password \xC3\xB6\0end", 19);
  secrets.save(app, "Password", secret);
  EXPECT_EQ(DpapiSecretStore().get(app, "Password"), secret);

  DWORD type = REG_NONE, size = 0;
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Password", RRF_RT_ANY, &type, nullptr, &size),
            ERROR_SUCCESS);
  std::vector<char> stored(size);
  ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Password", RRF_RT_ANY, &type, stored.data(), &size);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(std::search(stored.begin(), stored.end(), secret.begin(), secret.begin() + 12), stored.end())
      << "the registry holds the protected form only";

  // Bytes that are not this user's protected data (here, a secret someone wrote in clear) do
  // not open.
  ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Password", REG_BINARY, secret.data(),
                    static_cast<DWORD>(secret.size()));
  EXPECT_EQ(errorNumber([&] { secrets.get(app, "Password"); }), 5);

  secrets.remove(app, "Password");
  secrets.remove(app, "Password");
  EXPECT_EQ(secrets.get(app, "Password"), std::nullopt);
  EXPECT_EQ(errorNumber([&] { secrets.save(app, "", "x"); }), 52);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

}  // namespace
}  // namespace quenvar
