// Self-registration, machine-wide (DllRegisterServer, or DllInstall with no argument, under
// HKEY_CLASSES_ROOT) or for the current user only (DllInstall with "user", under
// HKCU\Software\Classes): one set of keys under either root. Machine-wide registration also
// writes the event source, which a user cannot. Both architectures register side by side: class
// and interface keys live in each architecture's own view, the ProgID, the type library key and
// the event source are shared, so unregistering one leaves what the other still needs.
//
// The type library's keys are written here rather than by RegisterTypeLib: that writes only
// machine-wide (as does Wine 8's RegisterTypeLibForUser), and in a 32-bit process under Wine it
// also writes the 64-bit view through a path that ignores a redirected HKEY_CLASSES_ROOT.

#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>
#include <vector>
#include <wchar.h>

#include "event_source.h"
#include "module.h"
#include "quenvar.h"

namespace quenvar::com {

namespace {

// The creatable classes.
struct Class {
  const CLSID& clsid;
  const wchar_t* progId;
};
const Class kClasses[] = {{CLSID_clsErrHandler, L"Quenvar.clsErrHandler"},
                          {CLSID_MailSettings, L"Quenvar.MailSettings"},
                          {CLSID_Collector, L"Quenvar.Collector"}};

constexpr bool kIs64Bit = sizeof(void*) == 8;
constexpr const wchar_t* kPlatform = kIs64Bit ? L"win64" : L"win32";
constexpr const wchar_t* kDualProxy = L"{00020424-0000-0000-C000-000000000046}";
constexpr const wchar_t* kDispatchProxy = L"{00020420-0000-0000-C000-000000000046}";

std::wstring guidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  LONG r = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr);
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

struct Interface {
  std::wstring iid;
  std::wstring name;
  const wchar_t* proxy;
};

// Interfaces the type library does not describe as such but clients still ask for.
const Interface kExtraInterfaces[] = {
    {L"{A43B5121-AA23-4477-B0C7-BA41A363AE6A}", L"clsErrHandler___v0", kDualProxy},
    {L"{EE633794-BC9F-4446-9176-443DB4FA7297}", L"__clsErrHandler", kDispatchProxy},
};

// Those of the library that a proxy must reach (dual, automation-compatible or dispatch-only),
// then the extra ones.
std::vector<Interface> interfacesOf(ITypeLib* library) {
  std::vector<Interface> out;
  for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(i, &info))) continue;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
      const bool dispatchOnly = attr->typekind == TKIND_DISPATCH && !(attr->wTypeFlags & TYPEFLAG_FDUAL);
      const bool marshalled = attr->typekind == TKIND_DISPATCH ||
                              (attr->typekind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION));
      BSTR name = nullptr;
      if (marshalled && SUCCEEDED(library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr))) {
        out.push_back({guidText(attr->guid), std::wstring(name, SysStringLen(name)), dispatchOnly ? kDispatchProxy : kDualProxy});
        SysFreeString(name);
      }
      info->ReleaseTypeAttr(attr);
    }
    info->Release();
  }
  out.insert(out.end(), std::begin(kExtraInterfaces), std::end(kExtraInterfaces));
  return out;
}

struct Library {
  ITypeLib* library = nullptr;
  TLIBATTR* attr = nullptr;
  explicit Library(const std::wstring& path) {
    if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)) && FAILED(library->GetLibAttr(&attr))) attr = nullptr;
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    if (attr) library->ReleaseTLibAttr(attr);
    if (library) library->Release();
  }
  std::wstring versionKey() const {
    return L"TypeLib\\" + guidText(LIBID_Quenvar) + L"\\" + std::to_wstring(attr->wMajorVerNum) + L"." +
           std::to_wstring(attr->wMinorVerNum);
  }
};

// The other architecture's class key under `root`, with its DLL's path (empty when unreadable).
bool otherArchitectureRegistered(HKEY root, std::wstring* path = nullptr) {
  HKEY h = nullptr;
  std::wstring key = L"CLSID\\" + guidText(CLSID_clsErrHandler) + L"\\InprocServer32";
  REGSAM other = kIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | other, &h) != ERROR_SUCCESS) return false;
  if (path) {
    wchar_t text[MAX_PATH * 2] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegQueryValueExW(h, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS) *path = text;
  }
  RegCloseKey(h);
  return true;
}

HRESULT registerServer(HKEY root) {
  std::wstring path = modulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  Library library(path);
  if (!library.attr) return SELFREG_E_TYPELIB;
  BSTR title = nullptr;
  if (FAILED(library.library->GetDocumentation(-1, nullptr, &title, nullptr, nullptr))) return SELFREG_E_TYPELIB;
  const std::wstring libraryTitle(title ? title : L"", title ? SysStringLen(title) : 0);
  SysFreeString(title);

  const std::wstring libid = guidText(LIBID_Quenvar), libraryKey = library.versionKey();
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/") + 1);
  struct Value {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  };
  std::vector<Value> values = {
      {libraryKey, nullptr, libraryTitle},
      {libraryKey + L"\\FLAGS", nullptr, std::to_wstring(library.attr->wLibFlags)},
      {libraryKey + L"\\0\\" + kPlatform, nullptr, path},
      {libraryKey + L"\\HELPDIR", nullptr, folder},
  };
  for (const Class& c : kClasses) {
    const std::wstring clsid = guidText(c.clsid), classKey = L"CLSID\\" + clsid;
    values.insert(values.end(), {
        {classKey, nullptr, c.progId},
        {classKey + L"\\InprocServer32", nullptr, path},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, c.progId},
        {classKey + L"\\VERSION", nullptr, L"1.1"},
        {classKey + L"\\TypeLib", nullptr, libid},
        {classKey + L"\\Programmable", nullptr, L""},
        {c.progId, nullptr, c.progId},
        {std::wstring(c.progId) + L"\\CLSID", nullptr, clsid},
    });
  }
  for (const auto& v : values)
    if (FAILED(setValue(root, v.key, v.name, v.value))) return SELFREG_E_CLASS;
  for (const auto& item : interfacesOf(library.library)) {
    const std::wstring key = L"Interface\\" + item.iid;
    if (FAILED(setValue(root, key, nullptr, item.name)) || FAILED(setValue(root, key + L"\\ProxyStubClsid32", nullptr, item.proxy)) ||
        FAILED(setValue(root, key + L"\\ProxyStubClsid", nullptr, item.proxy)) ||
        FAILED(setValue(root, key + L"\\TypeLib", nullptr, libid)) || FAILED(setValue(root, key + L"\\TypeLib", L"Version", L"1.1")))
      return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT unregisterServer(HKEY root) {
  Library library(modulePath());
  if (!library.attr) return SELFREG_E_TYPELIB;
  for (const auto& item : interfacesOf(library.library)) RegDeleteTreeW(root, (L"Interface\\" + item.iid).c_str());
  for (const Class& c : kClasses) RegDeleteTreeW(root, (L"CLSID\\" + guidText(c.clsid)).c_str());
  RegDeleteTreeW(root, (library.versionKey() + L"\\0\\" + kPlatform).c_str());
  if (!otherArchitectureRegistered(root)) {
    for (const Class& c : kClasses) RegDeleteTreeW(root, c.progId);
    RegDeleteTreeW(root, (L"TypeLib\\" + guidText(LIBID_Quenvar)).c_str());
  }
  return S_OK;
}

}  // namespace

}  // namespace quenvar::com

using namespace quenvar::com;

namespace {

HRESULT registerMachine() {
  HRESULT hr = registerServer(HKEY_CLASSES_ROOT);
  return SUCCEEDED(hr) ? registerEventSource(modulePath()) : hr;
}

HRESULT unregisterMachine() {
  HRESULT hr = unregisterServer(HKEY_CLASSES_ROOT);
  std::wstring other;
  otherArchitectureRegistered(HKEY_CLASSES_ROOT, &other);
  const HRESULT source = unregisterEventSource(modulePath(), other);
  return FAILED(hr) ? hr : source;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return registerMachine(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return unregisterMachine(); }

// regsvr32 /n /i registers machine-wide, as DllRegisterServer does; /n /i:user for the current
// user only; /u with either removes that.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  if (!commandLine || !*commandLine) return install ? registerMachine() : unregisterMachine();
  if (_wcsicmp(commandLine, L"user") != 0) return E_INVALIDARG;
  HKEY classes = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &classes, nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  HRESULT hr = install ? registerServer(classes) : unregisterServer(classes);
  RegCloseKey(classes);
  return hr;
}
