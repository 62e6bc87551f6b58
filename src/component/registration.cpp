// Self-registration. Both architectures register side by side: class and interface keys live
// in each architecture's own view, the ProgID and the type library key are shared, so
// unregistering one leaves what the other still needs.

#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>

#include "module.h"
#include "quenvar.h"

namespace quenvar::com {

namespace {

constexpr const wchar_t* kProgId = L"Quenvar.clsErrHandler";
constexpr bool kIs64Bit = sizeof(void*) == 8;

std::wstring guidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  r = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
  return HRESULT_FROM_WIN32(r);
}

std::wstring modulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(moduleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Interfaces the type library does not describe as such but clients still ask for.
struct ExtraInterface {
  const wchar_t* iid;
  const wchar_t* name;
  const wchar_t* proxy;
};
constexpr ExtraInterface kExtraInterfaces[] = {
    {L"{A43B5121-AA23-4477-B0C7-BA41A363AE6A}", L"clsErrHandler___v0", L"{00020424-0000-0000-C000-000000000046}"},
    {L"{EE633794-BC9F-4446-9176-443DB4FA7297}", L"__clsErrHandler", L"{00020420-0000-0000-C000-000000000046}"},
};

bool otherArchitectureRegistered() {
  HKEY h = nullptr;
  std::wstring key = L"CLSID\\" + guidText(CLSID_clsErrHandler) + L"\\InprocServer32";
  REGSAM other = kIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | other, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

}  // namespace

}  // namespace quenvar::com

using namespace quenvar::com;

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  std::wstring path = modulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.data(), REGKIND_NONE, &library);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  hr = RegisterTypeLib(library, path.data(), nullptr);
  library->Release();
  if (FAILED(hr)) return SELFREG_E_TYPELIB;

  const std::wstring clsid = guidText(CLSID_clsErrHandler), libid = guidText(LIBID_Quenvar);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } values[] = {
      {classKey, nullptr, kProgId},
      {classKey + L"\\InprocServer32", nullptr, path},
      {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {classKey + L"\\ProgID", nullptr, kProgId},
      {classKey + L"\\VERSION", nullptr, L"1.1"},
      {classKey + L"\\TypeLib", nullptr, libid},
      {classKey + L"\\Programmable", nullptr, L""},
      {kProgId, nullptr, kProgId},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, clsid},
  };
  for (const auto& v : values)
    if (FAILED(setValue(v.key, v.name, v.value))) return SELFREG_E_CLASS;
  for (const auto& extra : kExtraInterfaces) {
    const std::wstring key = std::wstring(L"Interface\\") + extra.iid;
    if (FAILED(setValue(key, nullptr, extra.name)) || FAILED(setValue(key + L"\\ProxyStubClsid32", nullptr, extra.proxy)) ||
        FAILED(setValue(key + L"\\ProxyStubClsid", nullptr, extra.proxy)) ||
        FAILED(setValue(key + L"\\TypeLib", nullptr, libid)) || FAILED(setValue(key + L"\\TypeLib", L"Version", L"1.1")))
      return SELFREG_E_CLASS;
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  UnRegisterTypeLib(LIBID_Quenvar, 1, 1, LOCALE_NEUTRAL, kIs64Bit ? SYS_WIN64 : SYS_WIN32);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + guidText(CLSID_clsErrHandler)).c_str());
  for (const auto& extra : kExtraInterfaces)
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"Interface\\") + extra.iid).c_str());
  if (!otherArchitectureRegistered()) RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  return S_OK;
}
