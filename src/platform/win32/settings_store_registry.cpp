#include "platform/win32/settings_store_registry.h"

#include <cstring>
#include <vector>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {

[[noreturn]] void raiseInvalidCall() { throw AutomationError(err::kInvalidCall, "Invalid procedure call or argument"); }

// An empty name would address the parent key or its default value instead.
bool addressable(const std::string& app, const std::string& section, const std::string& key) {
  return !app.empty() && !section.empty() && !key.empty();
}

class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_) ::RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &handle_; }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

// The section's key under HKEY_CURRENT_USER.
std::wstring keyPath(const std::string& app, const std::string& section) {
  return L"Software\\VB and VBA Program Settings\\" + win32::widen(app) + L"\\" + win32::widen(section);
}

}  // namespace

std::optional<std::string> RegistrySettingsStore::get(const std::string& app, const std::string& section,
                                                      const std::string& key) {
  if (!addressable(app, section, key)) return std::nullopt;
  Key opened;
  const std::wstring path = keyPath(app, section);
  LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, opened.out());
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) raiseInvalidCall();

  const std::wstring name = win32::widen(key);
  std::vector<BYTE> data(256);
  for (;;) {
    DWORD type = 0;
    auto size = static_cast<DWORD>(data.size());
    status = ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, data.data(), &size);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    // Asked again: another writer may have made the value longer since the size was reported.
    if (status == ERROR_MORE_DATA) {
      data.resize(size > data.size() ? size : data.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) raiseInvalidCall();
    if (type != REG_SZ) return std::nullopt;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    // The terminator we wrote, when the writer stored one; characters before it are all kept.
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return win32::narrow(text);
  }
}

void RegistrySettingsStore::save(const std::string& app, const std::string& section, const std::string& key,
                                 const std::string& value) {
  if (!addressable(app, section, key)) raiseInvalidCall();
  Key created;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(app, section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, created.out(), nullptr) != ERROR_SUCCESS)
    raiseInvalidCall();
  const std::wstring text = win32::widen(value);
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (bytes > MAXDWORD) raiseInvalidCall();
  if (::RegSetValueExW(created.get(), win32::widen(key).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(bytes)) != ERROR_SUCCESS)
    raiseInvalidCall();
}

void RegistrySettingsStore::remove(const std::string& app, const std::string& section, const std::string& key) {
  if (!addressable(app, section, key)) return;
  Key opened;
  const std::wstring path = keyPath(app, section);
  LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, opened.out());
  if (status == ERROR_FILE_NOT_FOUND) return;
  if (status == ERROR_SUCCESS) status = ::RegDeleteValueW(opened.get(), win32::widen(key).c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) raiseInvalidCall();
}

}  // namespace quenvar
