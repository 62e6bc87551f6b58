#include "platform/win32/settings_store_registry.h"

#include <gtest/gtest.h>

#include <vector>

#include "win32_test_support.h"

namespace quenvar {
namespace {

using testing::errorNumber;

const std::wstring kRoot = L"Software\\VB and VBA Program Settings\\";

// An application name of this test's own, removed with everything under it afterwards.
struct TestApp {
  std::string name = "QuenvarTest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount());
  ~TestApp() { ::RegDeleteTreeW(HKEY_CURRENT_USER, (kRoot + win32::widen(name)).c_str()); }
};

struct RawValue {
  LSTATUS status = ERROR_SUCCESS;
  DWORD type = REG_NONE;
  std::wstring text;
};

// Straight from the registry, without the store.
RawValue readRaw(const TestApp& app, const std::string& section, const std::string& key) {
  RawValue value;
  const std::wstring path = kRoot + win32::widen(app.name) + L"\\" + win32::widen(section);
  const std::wstring name = win32::widen(key);
  // As stored: without this, an expandable string would come back expanded and typed REG_SZ.
  const DWORD flags = RRF_RT_ANY | RRF_NOEXPAND;
  DWORD size = 0;
  value.status = ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), flags, &value.type, nullptr, &size);
  if (value.status != ERROR_SUCCESS) return value;
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1);
  value.status = ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), flags, &value.type, data.data(), &size);
  value.text.assign(data.data(), size / sizeof(wchar_t));
  return value;
}

TEST(RegistrySettingsStore, ValuesRoundTripAsRegSz) {
  TestApp app;
  RegistrySettingsStore store;
  const std::vector<std::string> values = {"",   "SMTP.example.com", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E",
                                           "cr\r\nlf", std::string(10000, 'x')};
  for (size_t i = 0; i < values.size(); ++i) store.save(app.name, "ErrHandler", "k" + std::to_string(i), values[i]);
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(store.get(app.name, "ErrHandler", "k" + std::to_string(i)), values[i]) << i;

  const RawValue raw = readRaw(app, "ErrHandler", "k2");
  ASSERT_EQ(raw.status, ERROR_SUCCESS);
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
  // Stored with its terminating zero, as every reader of REG_SZ expects.
  EXPECT_EQ(raw.text, win32::widen(values[2]) + std::wstring(1, L'\0'));

  store.save(app.name, "ErrHandler", "k1", "replaced");
  EXPECT_EQ(store.get(app.name, "ERRHANDLER", "K1"), "replaced");  // the registry ignores letter case
}

TEST(RegistrySettingsStore, MissingOrForeignValuesReadAsNothing) {
  TestApp app;
  RegistrySettingsStore store;
  EXPECT_EQ(store.get(app.name, "S", "k"), std::nullopt);
  store.save(app.name, "S", "k", "v");
  EXPECT_EQ(store.get(app.name, "S", "other"), std::nullopt);
  EXPECT_EQ(store.get(app.name, "Other", "k"), std::nullopt);

  const std::wstring path = kRoot + win32::widen(app.name) + L"\\S";
  const DWORD number = 42;
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"dword", REG_DWORD, &number, sizeof number),
            ERROR_SUCCESS);
  const wchar_t expandable[] = L"%TEMP%";
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"expand", REG_EXPAND_SZ, expandable,
                              sizeof expandable),
            ERROR_SUCCESS);
  EXPECT_EQ(store.get(app.name, "S", "dword"), std::nullopt);
  EXPECT_EQ(store.get(app.name, "S", "expand"), std::nullopt);
  // A string written by another program without its terminating zero reads whole.
  const wchar_t bare[] = {L'a', L'b'};
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"bare", REG_SZ, bare, sizeof bare), ERROR_SUCCESS);
  EXPECT_EQ(store.get(app.name, "S", "bare"), "ab");
}

TEST(RegistrySettingsStore, RemoveIsQuietAndCreatesNothing) {
  TestApp app;
  RegistrySettingsStore store;
  store.remove(app.name, "S", "k");
  HKEY key = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, (kRoot + win32::widen(app.name)).c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);

  store.save(app.name, "S", "k", "v");
  store.save(app.name, "S", "kept", "w");
  store.remove(app.name, "s", "K");
  EXPECT_EQ(readRaw(app, "S", "k").status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(store.get(app.name, "S", "kept"), "w");
  store.remove(app.name, "S", "k");
}

TEST(RegistrySettingsStore, UnaddressableNamesAreInvalidCalls) {
  TestApp app;
  RegistrySettingsStore store;
  EXPECT_EQ(errorNumber([&] { store.save("", "S", "k", "v"); }), err::kInvalidCall);
  EXPECT_EQ(errorNumber([&] { store.save(app.name, "", "k", "v"); }), err::kInvalidCall);
  EXPECT_EQ(errorNumber([&] { store.save(app.name, "S", "", "v"); }), err::kInvalidCall);
  EXPECT_EQ(store.get("", "S", "k"), std::nullopt);
  EXPECT_NO_THROW(store.remove(app.name, "", "k"));
  // Key names are limited to 255 characters.
  EXPECT_EQ(errorNumber([&] { store.save(app.name, std::string(300, 's'), "k", "v"); }), err::kInvalidCall);
  try {
    store.save("", "S", "k", "v");
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), "Invalid procedure call or argument");
  }
}

}  // namespace
}  // namespace quenvar
