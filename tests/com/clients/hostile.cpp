// Clients that misbehave through the real DLL: odd strings and odd VARIANTs as arguments, and
// client objects whose Invoke fails, lies, answers Empty or calls back into the handler.
// Expected: a clear HRESULT with error information, never a crash, every reference returned.

#include <olectl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "client_support.h"

using namespace client;

namespace {

const HRESULT kTypeMismatch = static_cast<HRESULT>(0x800A000D);
const HRESULT kBadFileName = static_cast<HRESULT>(0x800A0034);
const LONG kHandlerBusy = -2147220501;

BSTR rawBstr(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

DISPID idOf(IDispatch* d, const wchar_t* member) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
  DISPID id = DISPID_UNKNOWN;
  CHECK_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  return id;
}

std::wstring text(HRESULT (STDMETHODCALLTYPE _clsErrHandler::*get)(BSTR*), _clsErrHandler* h) {
  Bstr b;
  CHECK_EQ((h->*get)(b.put()), S_OK);
  return b.str();
}


// Lone surrogates become U+FFFD; embedded NULs and everything else arrive as given.
void oddStringsArrive() {
  auto h = createHandler();
  if (!h) return;
  const std::wstring lone(L"A\xD800" L"B\xDC00"), nul(L"A\0B", 3);
  const std::wstring loneRead(L"A\xFFFD" L"B\xFFFD");
  for (const std::wstring* s : {&lone, &nul}) {
    BSTR b = rawBstr(*s);
    LONG status = -1;
    CHECK_EQ(h->Push(&b, &status), S_OK);
    CHECK_EQ(status, 0);
    Var value;
    value.vt = VT_BSTR;
    value.bstrVal = rawBstr(*s);
    CHECK_EQ(h->AddParam(&b, &b, &value), S_OK);
    CHECK_EQ(h->put_EmailAddress(&b), S_OK);
    SysFreeString(b);
  }
  BSTR null = nullptr;
  LONG status = -1;
  CHECK_EQ(h->Push(&null, &status), S_OK);
  CHECK_EQ(status, 0);
  CHECK_EQ(h->AddParam(&null, &null, nullptr), S_OK);
  CHECK_EQ(callStack(h.get()), (std::vector<std::wstring>{L"", loneRead, nul, L""}));
  CHECK_EQ(text(&_clsErrHandler::ShowParam, h.get()), std::wstring(L"\r\n1st Param:\r\nName: \t\r\nType : \t\r\nValue: \t\r\n"));

  BSTR desc = rawBstr(lone + nul);
  Folder folder("hostile");
  Bstr dest((folder.path.wstring() + L"\\" + lone).c_str());
  CHECK_EQ(h->put_Destination(dest.get()), S_OK);
  CHECK_EQ(h->HandleError(desc, 5, 0, nullptr, &status), S_OK);
  CHECK_EQ(status, 0);
  CHECK_EQ(text(&_clsErrHandler::get_ErrDesc, h.get()), loneRead + nul);
  CHECK(std::filesystem::exists(folder.path / (loneRead + L"\\Error.log")));
  SysFreeString(desc);
  CHECK_EQ(h->HandleError(nullptr, 5, 0, nullptr, &status), S_OK);
  CHECK_EQ(text(&_clsErrHandler::get_ErrDesc, h.get()), std::wstring());

  // A folder name with a NUL would reach the system as the file before it.
  const std::filesystem::path victim = folder.path / "victim.txt";
  std::ofstream(victim) << "keep";
  BSTR trick = rawBstr(victim.wstring() + std::wstring(L"\0x", 2));
  CHECK_EQ(h->put_Destination(trick), kBadFileName);
  SysFreeString(trick);
  CHECK_EQ(std::filesystem::file_size(victim), 4u);
}

// AddParam with VARIANTs of every odd kind, through the vtable and through Invoke: each one is
// stored and shown, or refused with a type mismatch.
void oddVariantsAsParameters() {
  auto h = createHandler();
  if (!h) return;
  auto d = h.as<IDispatch>(IID_IDispatch);
  const DISPID addParamId = idOf(d.get(), L"AddParam");

  SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 3);
  SAFEARRAY* decimals = SafeArrayCreateVector(VT_DECIMAL, 0, 2);
  SAFEARRAYBOUND grid[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* twoD = SafeArrayCreate(VT_VARIANT, 2, grid);
  // An array whose element refers back to the variant holding the array.
  VARIANT holder;
  VariantInit(&holder);
  holder.vt = VT_ARRAY | VT_VARIANT;
  holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG first = 0;
  VARIANT back;
  back.vt = VT_BYREF | VT_VARIANT;
  back.pvarVal = &holder;
  SafeArrayPutElement(holder.parray, &first, &back);
  // Arrays nested 6,000 deep, and 10 MB of bytes (a picture column).
  VARIANT nest;
  VariantInit(&nest);
  for (int level = 0; level < 6000; ++level) {
    SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    SafeArrayPutElement(outer, &first, &nest);
    VariantClear(&nest);
    nest.vt = VT_ARRAY | VT_VARIANT;
    nest.parray = outer;
  }
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 10 << 20);
  SAFEARRAY* records = SafeArrayCreateVector(VT_I4, 0, 1);
  records->fFeatures |= FADF_RECORD;  // read as an array of records
  LONG number = 42;
  Bstr word(L"word");
  BSTR nullBstr = nullptr;
  IDispatch* nullDispatch = nullptr;
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_BSTR;
  inner.bstrVal = word.get();

  struct Case {
    const wchar_t* what;
    std::function<void(VARIANT&)> make;
    HRESULT hr;
    const wchar_t* value;  // the value line's text; nullptr: the whole list reads empty
  } cases[] = {
      {L"array", [&](VARIANT& v) { v.vt = VT_ARRAY | VT_I4; v.parray = longs; }, S_OK, L"-----"},
      {L"decimal array", [&](VARIANT& v) { v.vt = VT_ARRAY | VT_DECIMAL; v.parray = decimals; }, S_OK, L"-----"},
      {L"two-dimensional array", [&](VARIANT& v) { v.vt = VT_ARRAY | VT_VARIANT; v.parray = twoD; }, S_OK, L"-----"},
      {L"array holding a reference to itself", [&](VARIANT& v) { v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = &holder; }, S_OK, L"-----"},
      {L"arrays nested 6,000 deep", [&](VARIANT& v) { v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = &nest; }, S_OK, L"-----"},
      {L"10 MB byte array by reference", [&](VARIANT& v) { v.vt = VT_BYREF | VT_ARRAY | VT_UI1; v.pparray = &bytes; }, S_OK, L"-----"},
      {L"record array", [&](VARIANT& v) { v.vt = VT_ARRAY | VT_RECORD; v.parray = records; }, S_OK, L"-----"},
      {L"error", [](VARIANT& v) { v.vt = VT_ERROR; v.scode = E_FAIL; }, S_OK, L"-----"},
      {L"null object", [](VARIANT& v) { v.vt = VT_DISPATCH; v.pdispVal = nullptr; }, S_OK, nullptr},
      {L"by-reference long", [&](VARIANT& v) { v.vt = VT_BYREF | VT_I4; v.plVal = &number; }, S_OK, L"42"},
      {L"by-reference variant", [&](VARIANT& v) { v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = &inner; }, S_OK, L"word"},
      {L"by-reference null object", [&](VARIANT& v) { v.vt = VT_BYREF | VT_DISPATCH; v.ppdispVal = &nullDispatch; }, S_OK, nullptr},
      {L"by-reference null string", [&](VARIANT& v) { v.vt = VT_BYREF | VT_BSTR; v.pbstrVal = &nullBstr; }, S_OK, L""},
      {L"64-bit integer", [](VARIANT& v) { v.vt = VT_I8; v.llVal = 1234567890123LL; }, S_OK, L"1234567890123"},
      {L"null reference", [](VARIANT& v) { v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = nullptr; }, kTypeMismatch, nullptr},
      {L"reference cycle", [](VARIANT& v) { v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = &v; }, kTypeMismatch, nullptr},
      {L"null string reference", [](VARIANT& v) { v.vt = VT_BYREF | VT_BSTR; v.pbstrVal = nullptr; }, kTypeMismatch, nullptr},
      {L"record", [](VARIANT& v) { v.vt = VT_RECORD; v.pvRecord = nullptr; v.pRecInfo = nullptr; }, kTypeMismatch, nullptr},
  };
  for (const Case& c : cases) {
    for (bool throughInvoke : {false, true}) {
      std::printf("  %ls%s\n", c.what, throughInvoke ? " (Invoke)" : "");
      std::fflush(stdout);
      const ULONGLONG started = GetTickCount64();
      Bstr proc(c.what), name(L"p"), type(L"Variant");
      BSTR procName = proc.get();
      LONG status = -1;
      h->Push(&procName, &status);
      VARIANT v;
      VariantInit(&v);
      c.make(v);
      HRESULT hr;
      if (throughInvoke) {
        // Arguments in reverse order; a type mismatch comes back as the dispatch error.
        VARIANT args[3];
        args[2].vt = VT_BSTR, args[2].bstrVal = name.get();
        args[1].vt = VT_BSTR, args[1].bstrVal = type.get();
        args[0] = v;
        DISPPARAMS params{args, nullptr, 3, 0};
        EXCEPINFO info{};
        hr = d->Invoke(addParamId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
        if (hr == DISP_E_EXCEPTION) hr = info.scode;
        if (hr == DISP_E_TYPEMISMATCH) hr = kTypeMismatch;
        SysFreeString(info.bstrSource), SysFreeString(info.bstrDescription), SysFreeString(info.bstrHelpFile);
      } else {
        BSTR n = name.get(), t = type.get();
        hr = h->AddParam(&n, &t, &v);
      }
      CHECK_EQ(hr, c.hr);
      // Only an array's shape is kept: no element is copied, so size and depth cost nothing.
      CHECK(GetTickCount64() - started < 1000);
      const std::wstring shown = text(&_clsErrHandler::ShowParam, h.get());
      if (hr == S_OK && c.value)
        CHECK_EQ(shown, L"\r\n1st Param:\r\nName: \tp\r\nType : \tVariant\r\nValue: \t" + std::wstring(c.value) + L"\r\n");
      else if (hr == S_OK)
        CHECK_EQ(shown, std::wstring());
      h->Pop(&status);
    }
  }
  SafeArrayDestroy(longs);
  SafeArrayDestroy(decimals);
  SafeArrayDestroy(twoD);
  SafeArrayDestroy(bytes);
  records->fFeatures &= ~FADF_RECORD;
  SafeArrayDestroy(records);
  VariantClear(&holder);
  VariantClear(&nest);
}

// An application object and event sink whose every call does what `answer` says.
class Rogue : public Dispatch {
 public:
  std::function<HRESULT(VARIANT*, EXCEPINFO*)> answer;
  std::vector<std::wstring> names;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* n, UINT count, LCID, DISPID* ids) override {
    if (count < 1) return E_INVALIDARG;
    names.emplace_back(n[0]);
    ids[0] = static_cast<DISPID>(names.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO* info,
                                   UINT*) override {
    return answer(result, info);
  }

 protected:
  bool answers(REFIID iid) override { return iid == DIID___clsErrHandler; }
};

HRESULT STDMETHODCALLTYPE deferredFill(EXCEPINFO* info) {
  info->wCode = 1234;
  info->bstrDescription = SysAllocString(L"filled late \xD800");
  return S_OK;
}

void rogueObjects() {
  Folder folder("hostile");
  Rogue app;
  auto h = createHandler();
  if (!h) return;
  Bstr dest(folder.path.wstring().c_str());
  CHECK_EQ(h->put_Destination(dest.get()), S_OK);
  struct Case {
    const wchar_t* what;
    std::function<HRESULT(VARIANT*, EXCEPINFO*)> answer;
    HRESULT assignment;  // what assigning the object answers: it reads the mail subject
  } cases[] = {
      {L"E_FAIL", [](VARIANT*, EXCEPINFO*) { return E_FAIL; }, E_FAIL},
      {L"E_OUTOFMEMORY", [](VARIANT*, EXCEPINFO*) { return E_OUTOFMEMORY; }, E_OUTOFMEMORY},
      {L"unknown member", [](VARIANT*, EXCEPINFO*) { return DISP_E_MEMBERNOTFOUND; }, static_cast<HRESULT>(0x800A01B6)},
      {L"raise saying nothing", [](VARIANT*, EXCEPINFO*) { return DISP_E_EXCEPTION; }, DISP_E_EXCEPTION},
      {L"raise with both codes and a help file",
       [](VARIANT*, EXCEPINFO* i) {
         i->wCode = 1001, i->scode = E_FAIL, i->bstrHelpFile = SysAllocString(L"x.hlp");
         return DISP_E_EXCEPTION;
       },
       static_cast<HRESULT>(0x800A03E9)},
      {L"deferred fill-in",
       [](VARIANT*, EXCEPINFO* i) {
         i->pfnDeferredFillIn = deferredFill;
         return DISP_E_EXCEPTION;
       },
       static_cast<HRESULT>(0x800A04D2)},
      {L"a result with a failure",
       [](VARIANT* r, EXCEPINFO*) {
         if (r) r->vt = VT_BSTR, r->bstrVal = SysAllocString(L"leaked?");
         return E_FAIL;
       },
       E_FAIL},
      {L"Empty for everything", [](VARIANT*, EXCEPINFO*) { return S_OK; }, S_OK},
      {L"itself as every value",
       [&](VARIANT* r, EXCEPINFO*) {
         if (r) r->vt = VT_DISPATCH, r->pdispVal = &app, app.AddRef();
         return S_OK;
       },
       kTypeMismatch},
      {L"calls back",
       [&](VARIANT* r, EXCEPINFO*) {
         LONG status = 0;
         Bstr inner(L"Inner");
         BSTR name = inner.get();
         h->HandleError(inner.get(), 9, 0, nullptr, &status);
         if (status != 0) CHECK_EQ(status, kHandlerBusy);  // busy while handling, 0 otherwise
         h->Push(&name, &status);
         h->Pop(&status);
         h->put_AppObject(nullptr);  // drops the handler's reference to the object being read
         if (r) r->vt = VT_BSTR, r->bstrVal = SysAllocString(L"v");
         return S_OK;
       },
       S_OK},
  };
  for (const Case& c : cases) {
    std::printf("  %ls\n", c.what);
    std::fflush(stdout);
    app.answer = c.answer;
    CHECK_EQ(h->put_AppObject(&app), c.assignment);
    CHECK_EQ(h->put_AppObject(&app), c.assignment);
    Bstr proc(L"Main"), desc(L"Boom");
    BSTR name = proc.get();
    LONG status = -1;
    h->Push(&name, &status);
    CHECK_EQ(h->HandleError(desc.get(), 5, 0, nullptr, &status), S_OK);
    CHECK_EQ(status, 0);
    CHECK_EQ(callStack(h.get()), std::vector<std::wstring>{L""});
    CHECK(std::filesystem::exists(folder.path / "Error.log"));
    // Nothing is taken (the reference goes) and then read for the mail subject: 91.
    CHECK_EQ(h->put_AppObject(nullptr), static_cast<HRESULT>(0x800A005B));
    CHECK_EQ(app.refs, 1u);
  }

  // A sink that raises without saying what still stops the handling before the report.
  Rogue sink;
  sink.answer = [](VARIANT*, EXCEPINFO*) { return DISP_E_EXCEPTION; };
  Ptr<IConnectionPointContainer> container = h.as<IConnectionPointContainer>(IID_IConnectionPointContainer);
  Ptr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (container) CHECK_EQ(container->FindConnectionPoint(DIID___clsErrHandler, point.put()), S_OK);
  if (point) CHECK_EQ(point->Advise(&sink, &cookie), S_OK);
  Bstr proc(L"Main"), desc(L"Boom");
  BSTR name = proc.get();
  LONG status = 0;
  h->Push(&name, &status);
  CHECK_EQ(h->HandleError(desc.get(), 5, 0, nullptr, &status), S_OK);
  CHECK_EQ(status, static_cast<LONG>(DISP_E_EXCEPTION));
  CHECK_EQ(callStack(h.get()), (std::vector<std::wstring>{L"", L"Main"}));
  if (point) point->Unadvise(cookie);
  h.reset();
  CHECK_EQ(sink.refs, 1u);
}

// An object that answers every read with "v" after doing `during` once.
class Releaser : public Dispatch {
 public:
  std::function<void()> during;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (during) std::exchange(during, nullptr)();
    if (result) result->vt = VT_BSTR, result->bstrVal = SysAllocString(L"v");
    return S_OK;
  }
};

HRESULT invokeByName(IDispatch* d, const wchar_t* member, WORD flags, VARIANT* args, UINT count, UINT named = 0) {
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{args, named ? &put : nullptr, count, named};
  Var result;
  EXCEPINFO info{};
  HRESULT hr = d->Invoke(idOf(d, member), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &info, nullptr);
  SysFreeString(info.bstrSource), SysFreeString(info.bstrDescription), SysFreeString(info.bstrHelpFile);
  return hr;
}

// A client's code that runs inside a member drops the client's only reference to the handler:
// the member still finishes on a live object (the heap checker of this test's Wine catches
// a write into the freed one).
void releasedDuringCalls() {
  struct Case {
    const wchar_t* what;
    std::function<HRESULT(_clsErrHandler*, IDispatch*, Releaser&)> call;
  } cases[] = {
      {L"AppObject", [](_clsErrHandler* h, IDispatch*, Releaser& o) { return h->put_AppObject(&o); }},
      {L"Cn", [](_clsErrHandler* h, IDispatch*, Releaser& o) { IDispatch* p = &o; return h->put_Cn(&p); }},
      {L"ShowParam",
       [](_clsErrHandler* h, IDispatch*, Releaser& o) {
         Bstr n(L"p"), t(L"Object");
         BSTR name = n.get(), type = t.get();
         Var value(static_cast<IDispatch*>(&o));
         h->AddParam(&name, &type, &value);
         Bstr shown;
         return h->ShowParam(shown.put());
       }},
      {L"AppObject through Invoke",
       [](_clsErrHandler*, IDispatch* d, Releaser& o) {
         Var value(static_cast<IDispatch*>(&o));
         return invokeByName(d, L"AppObject", DISPATCH_PROPERTYPUTREF, &value, 1, 1);
       }},
  };
  for (const Case& c : cases) {
    std::printf("  released during %ls\n", c.what);
    std::fflush(stdout);
    Releaser object;
    {
      // The client's only references, as raw pointers: the object drops them while it is read.
      _clsErrHandler* raw = nullptr;
      if (auto h = createHandler()) raw = h.get(), raw->AddRef();
      if (!raw) return;
      IDispatch* rawDispatch = nullptr;
      raw->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&rawDispatch));
      Bstr proc(L"Main");
      BSTR name = proc.get();
      LONG status = -1;
      raw->Push(&name, &status);
      object.during = [&] {
        rawDispatch->Release();
        raw->Release();
      };
      HRESULT hr = c.call(raw, rawDispatch, object);
      CHECK(SUCCEEDED(hr));
    }
    CHECK(object.during == nullptr);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("Quenvar.dll"), "DllCanUnloadNow")));
    if (canUnload) CHECK_EQ(canUnload(), S_OK);
    CHECK_EQ(object.refs, 1u);
  }
}

// Counts and pointers a caller gets wrong, and interfaces that answer success with nothing.
class EmptyAnswer : public Dispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown) return Dispatch::QueryInterface(iid, out);
    *out = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

void malformedCalls() {
  auto h = createHandler();
  if (!h) return;
  auto d = h.as<IDispatch>(IID_IDispatch);
  const DISPID push = idOf(d.get(), L"Push");
  Var arg(L"Main");
  DISPID named[2] = {DISPID_PROPERTYPUT, 0};
  struct Case {
    const wchar_t* what;
    DISPPARAMS params;
    HRESULT hr;
  } cases[] = {
      {L"more named arguments than arguments", {&arg, named, 0, 1}, E_INVALIDARG},
      {L"arguments without their array", {nullptr, nullptr, 2, 0}, E_INVALIDARG},
      {L"named arguments without their ids", {&arg, nullptr, 1, 1}, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    std::printf("  %ls\n", c.what);
    DISPPARAMS p = c.params;
    Var result;
    CHECK_EQ(d->Invoke(push, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &p, &result, nullptr, nullptr), c.hr);
  }
  LPOLESTR nullName[] = {nullptr};
  DISPID id = 0;
  CHECK_EQ(d->GetIDsOfNames(IID_NULL, nullName, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  CHECK_EQ(id, DISPID_UNKNOWN);

  EmptyAnswer empty;
  Var unknown;
  unknown.vt = VT_UNKNOWN;
  unknown.punkVal = &empty;
  empty.AddRef();
  Bstr n(L"p"), t(L"Object");
  BSTR name = n.get(), type = t.get();
  CHECK_EQ(h->AddParam(&name, &type, &unknown), kTypeMismatch);
  Ptr<IConnectionPointContainer> container = h.as<IConnectionPointContainer>(IID_IConnectionPointContainer);
  Ptr<IConnectionPoint> point;
  if (container) container->FindConnectionPoint(DIID___clsErrHandler, point.put());
  DWORD cookie = 0;
  if (point) CHECK_EQ(point->Advise(&empty, &cookie), CONNECT_E_CANNOTCONNECT);
}

// A typed argument through Invoke: an object's default value is read as a client expects, but
// never without end, and no value that is no number reaches the system's conversion.
void convertedArguments() {
  auto h = createHandler();
  if (!h) return;
  auto d = h.as<IDispatch>(IID_IDispatch);
  Rogue object, kept;
  const auto decimal = [](VARIANT* v, BYTE scale) {
    v->decVal = DECIMAL{0, {{scale, 0}}, 43735362, {{0x12345678, 0x9ABCDEF0}}};
    v->vt = VT_DECIMAL;
  };
  struct Case {
    const wchar_t* what;
    std::function<void(VARIANT&)> make;
    std::function<HRESULT(VARIANT*, EXCEPINFO*)> defaultValue;
    HRESULT hr;
  } cases[] = {
      {L"an object whose default value is a string", [&](VARIANT& v) { v.vt = VT_DISPATCH, v.pdispVal = &object; },
       [](VARIANT* r, EXCEPINFO*) { return r->vt = VT_BSTR, r->bstrVal = SysAllocString(L"Counting"), S_OK; }, S_OK},
      {L"an object whose default value is itself", [&](VARIANT& v) { v.vt = VT_DISPATCH, v.pdispVal = &object; },
       [&](VARIANT* r, EXCEPINFO*) { return r->vt = VT_DISPATCH, r->pdispVal = &object, object.AddRef(), S_OK; },
       DISP_E_TYPEMISMATCH},
      {L"a decimal with 253 decimal places", [&](VARIANT& v) { decimal(&v, 253); }, nullptr, DISP_E_TYPEMISMATCH},
      {L"an object whose default value is that decimal", [&](VARIANT& v) { v.vt = VT_DISPATCH, v.pdispVal = &object; },
       [&](VARIANT* r, EXCEPINFO*) { return decimal(r, 253), S_OK; }, DISP_E_TYPEMISMATCH},
      {L"an object that fails but leaves a value", [&](VARIANT& v) { v.vt = VT_DISPATCH, v.pdispVal = &object; },
       [&](VARIANT* r, EXCEPINFO*) { return r->vt = VT_DISPATCH, r->pdispVal = &kept, kept.AddRef(), E_FAIL; },
       DISP_E_TYPEMISMATCH},
  };
  const DISPID operation = idOf(d.get(), L"CurrentOperation");
  for (const Case& c : cases) {
    std::printf("  %ls\n", c.what);
    std::fflush(stdout);
    object.answer = c.defaultValue;
    VARIANT arg;
    VariantInit(&arg);
    c.make(arg);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &put, 1, 1};
    CHECK_EQ(d->Invoke(operation, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                       nullptr),
             c.hr);
    if (c.hr == S_OK) CHECK_EQ(text(&_clsErrHandler::get_CurrentOperation, h.get()), std::wstring(L"Counting"));
    CHECK_EQ(object.refs, 1u);
    CHECK_EQ(kept.refs, 1u);
  }
}

// The client's objects a thread's handlers kept go when the thread's last handler goes, on that
// thread and in its apartment, not at thread exit under the loader lock.
void releasedWithTheLastHandler() {
  Releaser object;
  std::thread([&] {
    Apartment apartment;
    auto h = createHandler();
    if (!h) return;
    Bstr proc(L"Main"), n(L"p"), t(L"Object");
    BSTR name = proc.get(), param = n.get(), type = t.get();
    LONG status = -1;
    h->Push(&name, &status);
    Var value(static_cast<IDispatch*>(&object));
    CHECK_EQ(h->AddParam(&param, &type, &value), S_OK);
    VariantClear(&value);
    CHECK(object.refs > 1);
    h.reset();
    CHECK_EQ(object.refs, 1u);
  }).join();
}

}  // namespace

// `hostile released` runs only the calls that free the handler, for a run with Wine's heap
// checking, which would make the whole suite far too slow.
int main(int argc, char** argv) {
  Apartment apartment;
  if (argc > 1 && std::string(argv[1]) == "released") {
    releasedDuringCalls();
    return finish("hostile released");
  }
  oddStringsArrive();
  oddVariantsAsParameters();
  rogueObjects();
  releasedDuringCalls();
  malformedCalls();
  convertedArguments();
  releasedWithTheLastHandler();
  return finish("hostile");
}
