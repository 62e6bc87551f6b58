// Failures as clients see them: an HRESULT with error information through the vtable,
// DISP_E_EXCEPTION through Invoke, statuses where the methods promise never to fail, and the
// argument forms script hosts pass.

#include "client_support.h"

using namespace client;

namespace {

const HRESULT kConnectionClosed = static_cast<HRESULT>(0x800403EA);
const HRESULT kSubscript = static_cast<HRESULT>(0x800A0009);
const wchar_t* const kClosedText = L"ADO connection must be open before passing to the Error Object";

struct Invocation {
  HRESULT hr = E_FAIL;
  Var result;
  EXCEPINFO info{};
  Invocation() = default;
  Invocation(const Invocation&) = delete;
  Invocation& operator=(const Invocation&) = delete;
  ~Invocation() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

// Arguments in written order, by name as script hosts call; a put passes its value as the named argument.
std::unique_ptr<Invocation> invoke(IDispatch* d, const wchar_t* name, WORD flags, std::vector<const VARIANT*> args) {
  auto out = std::make_unique<Invocation>();
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  out->hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out->hr)) return out;
  std::vector<VARIANT> rgvarg;
  for (auto it = args.rbegin(); it != args.rend(); ++it) rgvarg.push_back(**it);
  DISPID put = DISPID_PROPERTYPUT;
  const bool isPut = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  DISPPARAMS params{rgvarg.data(), isPut ? &put : nullptr, static_cast<UINT>(rgvarg.size()), isPut ? 1u : 0u};
  UINT argError = 0;
  out->hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out->result, &out->info, &argError);
  return out;
}

void checkErrorInfo(const wchar_t* source, const wchar_t* description) {
  Ptr<IErrorInfo> info;
  CHECK_EQ(GetErrorInfo(0, info.put()), S_OK);
  if (!info) return;
  Bstr s, d;
  GUID g{};
  info->GetSource(s.put());
  info->GetDescription(d.put());
  info->GetGUID(&g);
  CHECK_EQ(s.str(), std::wstring(source));
  CHECK_EQ(d.str(), std::wstring(description));
  CHECK_EQ(g, IID__clsErrHandler);
}

IDispatch* connectionOf(_clsErrHandler* h) {
  IDispatch* cn = nullptr;
  CHECK_EQ(h->get_Cn(&cn), S_OK);
  if (cn) cn->Release();
  return cn;
}

void closedConnectionIsRefused() {
  Bag closed({}, {{L"ConnectionString", L""}});
  {
    auto h = createHandler();
    if (!h) return;
    auto support = h.as<ISupportErrorInfo>(IID_ISupportErrorInfo);
    CHECK(support && support->InterfaceSupportsErrorInfo(IID__clsErrHandler) == S_OK);

    IDispatch* connection = &closed;
    CHECK_EQ(h->put_Cn(&connection), kConnectionClosed);
    checkErrorInfo(L"Vantrelo", kClosedText);
    CHECK_EQ(connectionOf(h.get()), static_cast<IDispatch*>(nullptr));

    Var arg(static_cast<IDispatch*>(&closed));
    auto r = invoke(h.get(), L"Cn", DISPATCH_PROPERTYPUT, {&arg});
    CHECK_EQ(r->hr, DISP_E_EXCEPTION);
    CHECK_EQ(r->info.scode, kConnectionClosed);
    CHECK_EQ(std::wstring(r->info.bstrSource ? r->info.bstrSource : L""), std::wstring(L"Vantrelo"));
    CHECK_EQ(std::wstring(r->info.bstrDescription ? r->info.bstrDescription : L""), std::wstring(kClosedText));
  }
  CHECK_EQ(closed.refs, 1ul);
}

void setAndLetStylePutsOfObjects() {
  Bag open({}, {{L"ConnectionString", L"Provider=SQLOLEDB"}}), reopened({}, {{L"connectionstring", L"DSN=Ledger"}});
  Bag app({{L"Major", 2}, {L"Minor", 0}, {L"Revision", 15}}, {{L"ProductName", L"Ledger"}}), other({{L"Major", 3}, {L"Minor", 1}, {L"Revision", 0}}, {{L"ProductName", L"Books"}});
  {
    auto h = createHandler();
    if (!h) return;
    for (const wchar_t* member : {L"Cn", L"AppObject"}) {
      const bool cn = member[0] == L'C';
      Var first(static_cast<IDispatch*>(cn ? &open : &app)), second(static_cast<IDispatch*>(cn ? &reopened : &other));
      CHECK_EQ(invoke(h.get(), member, DISPATCH_PROPERTYPUTREF, {&first})->hr, S_OK);
      auto got = invoke(h.get(), member, DISPATCH_PROPERTYGET, {});
      CHECK(got->hr == S_OK && got->result.vt == VT_DISPATCH && got->result.pdispVal == first.pdispVal);
      CHECK_EQ(invoke(h.get(), member, DISPATCH_PROPERTYPUT, {&second})->hr, S_OK);
      got = invoke(h.get(), member, DISPATCH_PROPERTYGET, {});
      CHECK(got->hr == S_OK && got->result.vt == VT_DISPATCH && got->result.pdispVal == second.pdispVal);
    }
    IDispatch* connection = &open;
    CHECK_EQ(h->put_Cn(&connection), S_OK);
    CHECK_EQ(connectionOf(h.get()), static_cast<IDispatch*>(&open));
    CHECK_EQ(h->put_AppObject(&app), S_OK);
    IDispatch* application = nullptr;
    CHECK(SUCCEEDED(h->get_AppObject(&application)) && application == &app);
    if (application) application->Release();
  }
  // The handler let go of every object it was given.
  for (Bag* bag : {&open, &reopened, &app, &other}) CHECK_EQ(bag->refs, 1ul);
}

// A thread that never pushed has no parameter slot: AddParam raises, Pop reports it as its status.
// Runs first, before anything on this thread pushes.
void statusesInsteadOfFailures() {
  auto h = createHandler();
  if (!h) return;
  Bstr name(L"Id"), type(L"Long");
  BSTR n = name.get(), t = type.get();
  Var value(LONG{42});
  CHECK_EQ(h->AddParam(&n, &t, &value), kSubscript);
  Var vn(L"Id"), vt(L"Long");
  auto r = invoke(h.get(), L"AddParam", DISPATCH_METHOD, {&vn, &vt, &value});
  CHECK(r->hr == DISP_E_EXCEPTION && r->info.scode == kSubscript);

  LONG status = -1;
  CHECK_EQ(h->Pop(&status), S_OK);
  CHECK_EQ(status, 9l);
  auto second = createHandler();
  r = invoke(second.get(), L"Pop", DISPATCH_METHOD, {});
  CHECK(r->hr == S_OK && r->result.vt == VT_I4 && r->result.lVal == 9);

  Bstr desc(L"too big");
  CHECK_EQ(h->HandleError(desc.get(), 1e10, 0, nullptr, &status), S_OK);
  CHECK_EQ(status, 6l);
  Var vdesc(L"too big"), vnumber;
  vnumber.vt = VT_R8;
  vnumber.dblVal = 1e10;
  r = invoke(h.get(), L"HandleError", DISPATCH_METHOD, {&vdesc, &vnumber});
  CHECK(r->hr == S_OK && r->result.vt == VT_I4 && r->result.lVal == 6);

  // After a push the slot exists.
  Var proc(L"Calc");
  CHECK_EQ(invoke(h.get(), L"Push", DISPATCH_METHOD, {&proc})->hr, S_OK);
  CHECK_EQ(h->AddParam(&n, &t, &value), S_OK);
  Bstr text;
  CHECK_EQ(h->ShowParam(text.put()), S_OK);
  CHECK(text.str().find(L"Name: \tId\r\nType : \tLong\r\nValue: \t42") != std::wstring::npos);
}

void scriptStyleArguments() {
  auto h = createHandler();
  if (!h) return;
  Var text(L"Outer"), byRefVariant, number(LONG{42}), plain(L"Plain"), byRefString;
  byRefVariant.vt = VT_BYREF | VT_VARIANT;
  byRefVariant.pvarVal = &text;
  BSTR inner = text.bstrVal;
  byRefString.vt = VT_BYREF | VT_BSTR;
  byRefString.pbstrVal = &inner;
  for (const VARIANT* arg : std::initializer_list<const VARIANT*>{&byRefVariant, &number, &plain, &byRefString}) {
    auto r = invoke(h.get(), L"Push", DISPATCH_METHOD, {arg});
    CHECK(r->hr == S_OK && r->result.vt == VT_I4 && r->result.lVal == 0);
  }
  byRefVariant.vt = byRefString.vt = VT_EMPTY;  // borrowed, not owned
  CHECK_EQ(callStack(h.get()), (std::vector<std::wstring>{L"", L"Outer", L"42", L"Plain", L"Outer"}));

  // An omitted optional argument, marked as script hosts mark it; number 0 only stores the arguments.
  Var desc(L"nothing"), zero(LONG{0}), missing, note(L"note");
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  auto r = invoke(h.get(), L"HandleError", DISPATCH_METHOD, {&desc, &zero, &missing, &note});
  CHECK(r->hr == S_OK && r->result.vt == VT_I4 && r->result.lVal == 0);
  Bstr line;
  h->get_ErrLine(line.put());
  CHECK_EQ(line.str(), std::wstring(L"0"));
  Var custom;
  h->get_CustomErrMessage(&custom);
  CHECK_EQ(custom.str(), std::wstring(L"note"));
}

}  // namespace

int main() {
  Apartment apartment;
  statusesInsteadOfFailures();
  closedConnectionIsRefused();
  setAndLetStylePutsOfObjects();
  scriptStyleArguments();
  return finish("errors");
}
