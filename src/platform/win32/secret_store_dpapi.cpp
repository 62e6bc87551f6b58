#include "platform/win32/secret_store_dpapi.h"

#include <vector>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

#include <wincrypt.h>

namespace quenvar {

namespace {

// Ties the protection to this use: another program's protected data does not open here.
const char kEntropy[] = "Quenvar secret";

DATA_BLOB blobOf(const void* data, size_t size) {
  return {static_cast<DWORD>(size), static_cast<BYTE*>(const_cast<void*>(data))};
}

std::wstring keyPath(const std::string& app) { return L"Software\\Quenvar\\Secrets\\" + win32::widen(app); }

void checkNames(const std::string& app, const std::string& name) {
  if (app.empty() || name.empty() || app.find('\\') != std::string::npos)
    throw AutomationError(err::kBadFileName, "Bad file name or number");
}

[[noreturn]] void raise(const char* what) {
  throw AutomationError(err::kInvalidCall, std::string("The protected secret could not be ") + what);
}

// Frees what the protection calls allocate, and wipes clear text.
struct LocalBlob {
  DATA_BLOB blob{};
  bool clear = false;
  ~LocalBlob() {
    if (!blob.pbData) return;
    if (clear) ::SecureZeroMemory(blob.pbData, blob.cbData);
    ::LocalFree(blob.pbData);
  }
};

}  // namespace

std::optional<std::string> DpapiSecretStore::get(const std::string& app, const std::string& name) {
  checkNames(app, name);
  const std::wstring path = keyPath(app), value = win32::widen(name);
  DWORD size = 0;
  LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), value.c_str(), RRF_RT_REG_BINARY, nullptr,
                                  nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) raise("read");
  std::vector<BYTE> stored(size);
  status = ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), value.c_str(), RRF_RT_REG_BINARY, nullptr, stored.data(),
                          &size);
  if (status != ERROR_SUCCESS) raise("read");
  DATA_BLOB in = blobOf(stored.data(), size), entropy = blobOf(kEntropy, sizeof kEntropy - 1);
  LocalBlob out;
  out.clear = true;
  if (!::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out.blob))
    raise("opened for this user");
  return std::string(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData);
}

void DpapiSecretStore::save(const std::string& app, const std::string& name, const std::string& secret) {
  checkNames(app, name);
  DATA_BLOB in = blobOf(secret.data(), secret.size()), entropy = blobOf(kEntropy, sizeof kEntropy - 1);
  LocalBlob out;
  if (!::CryptProtectData(&in, L"Quenvar", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out.blob))
    raise("protected");
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(app).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    raise("stored");
  const LSTATUS status =
      ::RegSetValueExW(key, win32::widen(name).c_str(), 0, REG_BINARY, out.blob.pbData, out.blob.cbData);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) raise("stored");
}

void DpapiSecretStore::remove(const std::string& app, const std::string& name) {
  checkNames(app, name);
  const LSTATUS status =
      ::RegDeleteKeyValueW(HKEY_CURRENT_USER, keyPath(app).c_str(), win32::widen(name).c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) raise("removed");
}

}  // namespace quenvar
