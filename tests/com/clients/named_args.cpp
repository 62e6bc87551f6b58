// What a late-bound client does with named arguments: the names looked up with the member's,
// then Invoke with rgdispidNamedArgs, named and positional mixed, optional ones left out.

#include "client_support.h"

using namespace client;

namespace {

struct Call {
  std::vector<VARIANT> args;  // in written order
  std::vector<const wchar_t*> names;  // of the last names.size() arguments
};

// Looks the member and argument names up, then invokes as a script host would.
HRESULT invoke(IDispatch* d, const wchar_t* member, const Call& call, VARIANT* result, UINT* argError,
               std::vector<DISPID>* idsOut = nullptr) {
  std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member)};
  for (const wchar_t* n : call.names) names.push_back(const_cast<LPOLESTR>(n));
  std::vector<DISPID> ids(names.size(), 0);
  const HRESULT looked = d->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                          ids.data());
  if (idsOut) *idsOut = ids;
  if (FAILED(looked)) return looked;
  // Named arguments first, in the order named; then the positional ones, last first.
  const size_t named = call.names.size(), positional = call.args.size() - named;
  std::vector<VARIANT> rgvarg;
  for (size_t k = 0; k < named; ++k) rgvarg.push_back(call.args[positional + k]);
  for (size_t i = positional; i-- > 0;) rgvarg.push_back(call.args[i]);
  std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
  DISPPARAMS params{rgvarg.data(), namedIds.data(), static_cast<UINT>(rgvarg.size()), static_cast<UINT>(named)};
  return d->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result,
                   nullptr, argError);
}

// The strings of every call, freed when the program ends.
struct Strings {
  std::vector<BSTR> all;
  ~Strings() {
    for (BSTR b : all) SysFreeString(b);
  }
} strings;

VARIANT text(const wchar_t* s) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = strings.all.emplace_back(SysAllocString(s));
  return v;
}

VARIANT number(double d) {
  VARIANT v;
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}

std::wstring shown(IDispatch* d) {
  Var result;
  UINT argError = 0;
  CHECK_EQ(invoke(d, L"ShowParam", {}, &result, &argError), S_OK);
  return result.vt == VT_BSTR ? std::wstring(result.bstrVal) : L"";
}

void namesAreLookedUpWithTheMember(IDispatch* d) {
  std::vector<DISPID> ids;
  Var r;
  UINT argError = 0;
  CHECK_EQ(invoke(d, L"handleerror", {{number(0), text(L"x")}, {L"VDBLERRNUM", L"vstrErrDesc"}}, &r, &argError, &ids), S_OK);
  CHECK_EQ(ids.size(), size_t{3});
  CHECK_EQ(ids[1], DISPID{1});
  CHECK_EQ(ids[2], DISPID{0});
  // An unknown argument name: the member's id and DISP_E_UNKNOWNNAME, the unknown one unknown.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"HandleError"), const_cast<LPOLESTR>(L"vdblErrNum"),
                      const_cast<LPOLESTR>(L"NoSuchArgument")};
  DISPID got[3] = {};
  CHECK_EQ(d->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, got), DISP_E_UNKNOWNNAME);
  CHECK_EQ(got[0], ids[0]);
  CHECK_EQ(got[1], DISPID{1});
  CHECK_EQ(got[2], DISPID_UNKNOWN);
}

void namedArgumentsArePlaced(IDispatch* d) {
  UINT argError = 0;
  Var r;
  CHECK_EQ(invoke(d, L"Push", {{text(L"Main")}, {}}, &r, &argError), S_OK);
  // All named, in another order than declared.
  CHECK_EQ(invoke(d, L"AddParam", {{text(L"42"), text(L"Id"), text(L"Long")}, {L"vVal", L"sParam", L"sType"}}, &r,
                  &argError),
           S_OK);
  // Positional first, then named.
  CHECK_EQ(invoke(d, L"AddParam", {{text(L"Name"), text(L"Ada"), text(L"String")}, {L"vVal", L"stype"}}, &r, &argError),
           S_OK);
  CHECK_EQ(shown(d), std::wstring(L"\r\n1st Param:\r\nName: \tId\r\nType : \tLong\r\nValue: \t42\r\n"
                                  L"\r\n2nd Param:\r\nName: \tName\r\nType : \tString\r\nValue: \tAda\r\n"));
  // An optional argument left out in the middle: the line number, between the number and the message.
  Var status;
  CHECK_EQ(invoke(d, L"HandleError", {{text(L"Overflow"), number(6), text(L"Could not post.")},
                                      {L"vdblErrNum", L"strCustomErrorMessage"}},
                  &status, &argError),
           S_OK);
  CHECK_EQ(status.vt, VARTYPE{VT_I4});
  CHECK_EQ(status.lVal, LONG{0});
  Var num, line, custom;
  CHECK_EQ(invoke(d, L"ErrNum", {}, &num, &argError), S_OK);
  CHECK_EQ(num.lVal, LONG{6});
  CHECK_EQ(invoke(d, L"ErrLine", {}, &line, &argError), S_OK);
  CHECK_EQ(std::wstring(line.bstrVal), std::wstring(L"0"));
  CHECK_EQ(invoke(d, L"CustomErrMessage", {}, &custom, &argError), S_OK);
  CHECK_EQ(std::wstring(custom.bstrVal), std::wstring(L"Could not post."));
}

void badNamesAreRefusedAsTheSystemDoes(IDispatch* d) {
  LPOLESTR member[] = {const_cast<LPOLESTR>(L"AddParam")};
  DISPID id = DISPID_UNKNOWN;
  CHECK_EQ(d->GetIDsOfNames(IID_NULL, member, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  struct Case {
    const char* what;
    std::vector<DISPID> named;  // ids of the first named.size() rgvarg entries
    UINT positional;
    UINT argError;
  };
  const Case cases[] = {
      {"an id beyond the arguments", {7}, 2, 0},
      {"a negative id", {1, -3}, 1, 1},
      {"an argument named twice", {2, 2}, 1, 1},
      {"an argument given positionally and by name", {0}, 2, 0},
      {"a property put's value on a method", {DISPID_PROPERTYPUT}, 2, 0},
  };
  for (const Case& c : cases) {
    std::vector<VARIANT> rgvarg(c.named.size() + c.positional, text(L"v"));
    std::vector<DISPID> named = c.named;
    DISPPARAMS params{rgvarg.data(), named.data(), static_cast<UINT>(rgvarg.size()), static_cast<UINT>(named.size())};
    UINT argError = 99;
    const HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, &argError);
    if (hr != DISP_E_PARAMNOTFOUND || argError != c.argError)
      fail(__FILE__, __LINE__, std::string(c.what) + ": got " + show(hr) + " at " + std::to_string(argError));
  }
}

}  // namespace

int main() {
  Apartment apartment;
  Ptr<_clsErrHandler> h = createHandler();
  if (!h) return finish("named_args");
  Ptr<IDispatch> d = h.as<IDispatch>(IID_IDispatch);
  namesAreLookedUpWithTheMember(d.get());
  namedArgumentsArePlaced(d.get());
  badNamesAreRefusedAsTheSystemDoes(d.get());
  return finish("named_args");
}
