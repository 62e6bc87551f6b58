// A stand-in for "Outlook.Application": just enough late-bound automation for the component's
// Outlook route, recording every call it receives so the test can compare order and arguments.
// Registered by the test wrapper with reg.exe; no type library, members found by name only.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cwchar>
#include <string>

namespace {

// {6D3C1F0A-5B2E-4C71-9A43-8E2D7F1B0C55}, made up for this test only.
const CLSID kClsid = {0x6d3c1f0a, 0x5b2e, 0x4c71, {0x9a, 0x43, 0x8e, 0x2d, 0x7f, 0x1b, 0x0c, 0x55}};

LONG g_objects = 0;
LONG g_locks = 0;

// One line per call, UTF-8; nothing when the variable is unset so stray use stays harmless.
void logLine(const std::wstring& line) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"QUENVAR_OUTLOOK_LOG", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::wstring text = line + L"\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

// The argument at `index` (left to right) converted to `type`; false when missing or unconvertible.
bool argument(DISPPARAMS* params, UINT index, VARTYPE type, VARIANT* out) {
  if (!params || index >= params->cArgs) return false;
  VariantInit(out);
  VARIANT plain;
  VariantInit(&plain);
  if (FAILED(VariantCopyInd(&plain, &params->rgvarg[params->cArgs - 1 - index]))) return false;
  HRESULT hr = VariantChangeType(out, &plain, 0, type);
  VariantClear(&plain);
  return SUCCEEDED(hr);
}

// A property put carries its value as the single named argument DISPID_PROPERTYPUT.
bool isPut(WORD flags, DISPPARAMS* params) {
  return (flags & DISPATCH_PROPERTYPUT) && params && params->cArgs == 1 && params->cNamedArgs == 1 &&
         params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
}

struct Member {
  const wchar_t* name;
  DISPID id;
};

class Dispatch : public IDispatch {
 public:
  Dispatch() { InterlockedIncrement(&g_objects); }
  virtual ~Dispatch() { InterlockedDecrement(&g_objects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const Member* m = members(); m->name; ++m) {
      if (_wcsicmp(m->name, names[0]) == 0) {
        ids[0] = m->id;
        // Named arguments are not supported: their names are unknown.
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }

 protected:
  virtual const Member* members() const = 0;
  static HRESULT returnObject(VARIANT* result, IDispatch* object) {
    if (!result) {
      object->Release();
      return S_OK;
    }
    VariantInit(result);
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;  // takes the creation reference
    return S_OK;
  }

 private:
  LONG refs_ = 1;
};

class Recipients : public Dispatch {
 public:
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    VARIANT address;
    if (!params || params->cArgs != 1 || !argument(params, 0, VT_BSTR, &address)) return DISP_E_BADPARAMCOUNT;
    logLine(std::wstring(L"Recipients.Add ") + V_BSTR(&address));
    VariantClear(&address);
    if (result) VariantInit(result);
    return S_OK;
  }

 protected:
  const Member* members() const override {
    static const Member list[] = {{L"Add", 1}, {nullptr, 0}};
    return list;
  }
};

class MailItem : public Dispatch {
 public:
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    VARIANT value;
    switch (id) {
      case 1:
        if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        return returnObject(result, new Recipients);
      case 2:
      case 3:
        // Only a property put counts: a method call of the same name is a caller's mistake.
        if (!isPut(flags, params)) return DISP_E_MEMBERNOTFOUND;
        if (!argument(params, 0, VT_BSTR, &value)) return DISP_E_TYPEMISMATCH;
        if (id == 2)
          logLine(L"Body " + std::to_wstring(SysStringLen(V_BSTR(&value))));
        else
          logLine(std::wstring(L"Subject ") + V_BSTR(&value));
        VariantClear(&value);
        return S_OK;
      case 4:
        if (!(flags & DISPATCH_METHOD) || (params && params->cArgs != 0)) return DISP_E_MEMBERNOTFOUND;
        logLine(L"Send");
        if (result) VariantInit(result);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 protected:
  const Member* members() const override {
    static const Member list[] = {{L"Recipients", 1}, {L"Body", 2}, {L"Subject", 3}, {L"Send", 4}, {nullptr, 0}};
    return list;
  }
};

class Application : public Dispatch {
 public:
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    VARIANT type;
    if (!params || params->cArgs != 1 || !argument(params, 0, VT_I4, &type)) return DISP_E_BADPARAMCOUNT;
    logLine(L"CreateItem " + std::to_wstring(V_I4(&type)));
    return returnObject(result, new MailItem);
  }

 protected:
  const Member* members() const override {
    static const Member list[] = {{L"CreateItem", 1}, {nullptr, 0}};
    return list;
  }
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Static instance: its life is the module's.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Application* app = new Application;
    HRESULT hr = app->QueryInterface(iid, out);
    app->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }
