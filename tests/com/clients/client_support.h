#pragma once
// What the COM clients share: failure counting (no test framework to ship into Wine), owning
// wrappers for interfaces, strings and variants, and the client-side automation objects that
// stand in for connections, applications and event sinks.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <psapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "quenvar.h"

namespace client {

inline int failures = 0;

inline std::string show(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += c == '\r' ? "<CR>" : c == '\n' ? "<LF>" : std::string(1, c >= 32 && c < 127 ? static_cast<char>(c) : '?');
  return '"' + out + '"';
}
inline std::string show(const wchar_t* s) { return s ? show(std::wstring(s)) : "null"; }
inline std::string show(const std::string& s) { return '"' + (s.size() > 120 ? s.substr(0, 120) + "..." : s) + '"'; }
template <class T>
std::string show(T* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(p));
  return buf;
}
inline std::string show(const GUID& g) {
  wchar_t text[40] = L"";
  StringFromGUID2(g, text, 40);
  return show(std::wstring(text));
}
inline std::string show(const std::vector<std::wstring>& items) {
  std::string out = "{";
  for (auto& item : items) out += (out.size() > 1 ? ", " : "") + show(item);
  return out + "}";
}
template <class T>
  requires std::is_integral_v<T> || std::is_enum_v<T>
std::string show(T v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld (0x%llx)", static_cast<long long>(v),
                static_cast<unsigned long long>(v) & (sizeof(T) == 4 ? 0xFFFFFFFFull : ~0ull));
  return buf;
}

inline void fail(const char* file, int line, const std::string& what) {
  ++failures;
  std::printf("%s:%d: FAILED %s\n", file, line, what.c_str());
  std::fflush(stdout);
}

template <class A, class B>
void checkEq(const A& actual, const B& expected, const char* text, const char* file, int line) {
  if (!(actual == expected)) fail(file, line, std::string(text) + ": got " + show(actual) + ", want " + show(expected));
}

// Prints the tally as the last line; the exit code is the number of failures.
inline int finish(const char* name) {
  std::printf("%s: %d failure(s)\n", name, failures);
  return failures;
}

template <class T>
class Ptr {
 public:
  Ptr() = default;
  explicit Ptr(T* adopted) : p_(adopted) {}
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ptr& operator=(Ptr&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ~Ptr() { reset(); }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  template <class U>
  Ptr<U> as(REFIID iid) const {
    Ptr<U> out;
    if (p_) p_->QueryInterface(iid, out.putVoid());
    return out;
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* s) : b_(SysAllocString(s)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const { return b_; }
  BSTR* put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::wstring str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

struct Var : VARIANT {
  Var() { VariantInit(this); }
  explicit Var(const wchar_t* s) : Var() {
    vt = VT_BSTR;
    bstrVal = SysAllocString(s);
  }
  explicit Var(LONG v) : Var() {
    vt = VT_I4;
    lVal = v;
  }
  explicit Var(IDispatch* d) : Var() {
    vt = VT_DISPATCH;
    pdispVal = d;
    if (d) d->AddRef();
  }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  ~Var() { VariantClear(this); }
  std::wstring str() const { return vt == VT_BSTR && bstrVal ? std::wstring(bstrVal, SysStringLen(bstrVal)) : L"<not a string>"; }
};

struct Apartment {
  HRESULT hr = CoInitialize(nullptr);
  Apartment() = default;
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

// A Destination folder of this process's own, removed at the end; Error.log is what HandleError
// writes there.
struct Folder {
  const std::filesystem::path path;
  explicit Folder(const std::string& client)
      : path(std::filesystem::temp_directory_path() /
             ("quenvar-" + client + "-" + std::to_string(GetCurrentProcessId()))) {
    std::filesystem::create_directories(path);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string read() const {
    std::ifstream f(path / "Error.log", std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<missing>";
  }
  void write(const std::string& text) const { std::ofstream(path / "Error.log", std::ios::binary) << text; }
};

// Registers the DLL at `path` through its own export, for clients that run in a prefix of their own.
inline bool registerServer(const char* path) {
  const HMODULE dll = path ? LoadLibraryA(path) : nullptr;
  const auto entry = dll ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                               reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")))
                         : nullptr;
  return entry && SUCCEEDED(entry());
}

inline Ptr<_clsErrHandler> createHandler() {
  Ptr<_clsErrHandler> h;
  HRESULT hr = CoCreateInstance(CLSID_clsErrHandler, nullptr, CLSCTX_INPROC_SERVER, IID__clsErrHandler, h.putVoid());
  if (FAILED(hr)) fail(__FILE__, __LINE__, "CoCreateInstance: " + show(hr));
  return h;
}

// The DLL's own answer to whether anything of it is still alive.
inline HRESULT canUnloadNow() {
  HMODULE dll = GetModuleHandleW(L"Quenvar.dll");
  FARPROC f = dll ? GetProcAddress(dll, "DllCanUnloadNow") : nullptr;
  if (!f) {
    fail(__FILE__, __LINE__, "Quenvar.dll is not loaded or lacks DllCanUnloadNow");
    return E_FAIL;
  }
  return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(f))();
}

// Process memory as psapi reports it (link psapi).
struct Memory {
  SIZE_T privateBytes = 0, workingSet = 0;
};
inline Memory memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return {counters.PagefileUsage, counters.WorkingSetSize};
}

// The names on the call stack, bottom first.
inline std::vector<std::wstring> callStack(_clsErrHandler* h) {
  std::vector<std::wstring> names;
  Var v;
  if (FAILED(h->get_CallStack(&v)) || v.vt != (VT_ARRAY | VT_VARIANT)) return {L"<no array>"};
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(v.parray, 1, &lo);
  SafeArrayGetUBound(v.parray, 1, &hi);
  for (LONG i = lo; i <= hi; ++i) {
    Var item;
    SafeArrayGetElement(v.parray, &i, static_cast<VARIANT*>(&item));
    names.push_back(item.str());
  }
  return names;
}

// An IDispatch owned by the test (on its stack): counts references, answers no type information.
class Dispatch : public IDispatch {
 public:
  Dispatch() = default;
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;
  virtual ~Dispatch() = default;
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = iid == IID_IUnknown || iid == IID_IDispatch || answers(iid);
    *out = known ? this : nullptr;
    if (!known) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

 protected:
  virtual bool answers(REFIID) { return false; }
};

// An automation object whose members are named values, read as properties.
class Bag : public Dispatch {
 public:
  Bag(std::initializer_list<std::pair<const wchar_t*, LONG>> numbers,
      std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> texts) {
    for (auto& [name, value] : numbers) members_.emplace_back(name, std::make_unique<Var>(value));
    for (auto& [name, value] : texts) members_.emplace_back(name, std::make_unique<Var>(value));
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (size_t m = 0; m < members_.size(); ++m)
      if (count > 0 && lstrcmpiW(names[0], members_[m].first.c_str()) == 0) ids[0] = static_cast<DISPID>(m + 1);
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    return result ? VariantCopy(result, members_[static_cast<size_t>(id - 1)].second.get()) : S_OK;
  }

 private:
  std::vector<std::pair<std::wstring, std::unique_ptr<Var>>> members_;
};

}  // namespace client

#define CHECK(cond) ((cond) ? (void)0 : client::fail(__FILE__, __LINE__, #cond))
#define CHECK_EQ(actual, expected) client::checkEq((actual), (expected), #actual, __FILE__, __LINE__)
