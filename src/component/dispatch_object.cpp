#include "dispatch_object.h"

#include <dispex.h>

#include <map>
#include <vector>

#include "bstr.h"
#include "com_errors.h"
#include "core/text.h"
#include "platform/win32/utf.h"
#include "variant_convert.h"

namespace quenvar::com {

namespace {

// Not in every import library's uuid set; its value is fixed.
const IID kIIDDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

class DispatchObject : public Object {
 public:
  explicit DispatchObject(IDispatch* d) : dispatch_(d) { dispatch_->AddRef(); }
  ~DispatchObject() override { dispatch_->Release(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  Variant invoke(std::string_view member, std::span<const Variant> args) override {
    return call(dispid(member), member, args);
  }
  Variant defaultValue() override { return call(DISPID_VALUE, "(default)", {}); }
  void put(std::string_view member, const Variant& value) override {
    VARIANT arg;
    toVariant(value, &arg);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    EXCEPINFO info{};
    UINT argErr = 0;
    HRESULT hr = dispatch_->Invoke(dispid(member), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                   nullptr, &info, &argErr);
    VariantClear(&arg);
    if (FAILED(hr)) raise(hr, info, member);
  }
  IDispatch* dispatch() const { return dispatch_; }

 private:
  DISPID dispid(std::string_view member) {
    if (auto it = ids_.find(member); it != ids_.end()) return it->second;
    std::wstring name = win32::widen(member);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == E_NOTIMPL) {
      // Script class instances answer names only through IDispatchEx.
      IDispatchEx* ex = nullptr;
      if (SUCCEEDED(dispatch_->QueryInterface(kIIDDispatchEx, reinterpret_cast<void**>(&ex))) && ex) {
        Bstr bname(member);
        hr = ex->GetDispID(bname.get(), fdexNameCaseInsensitive, &id);
        ex->Release();
      }
    }
    if (FAILED(hr)) raiseNoSuchMember(member);
    ids_.emplace(std::string(member), id);
    return id;
  }

  Variant call(DISPID id, std::string_view member, std::span<const Variant> args) {
    std::vector<VARIANT> rgvarg(args.size());
    struct Clear {
      std::vector<VARIANT>& v;
      ~Clear() {
        for (VARIANT& x : v) VariantClear(&x);
      }
    } clear{rgvarg};
    for (VARIANT& x : rgvarg) VariantInit(&x);
    // Arguments go in reverse order.
    for (size_t i = 0; i < args.size(); ++i) toVariant(args[i], &rgvarg[args.size() - 1 - i]);
    DISPPARAMS params{rgvarg.data(), nullptr, static_cast<UINT>(rgvarg.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argErr = 0;
    HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                   &params, &result, &info, &argErr);
    if (FAILED(hr)) {
      VariantClear(&result);  // a failing callee may still have filled it
      raise(hr, info, member);
    }
    Variant out;
    try {
      out = fromVariant(result);
    } catch (...) {
      VariantClear(&result);
      throw;
    }
    VariantClear(&result);
    return out;
  }

  [[noreturn]] static void raise(HRESULT hr, EXCEPINFO& info, std::string_view member) {
    if (hr == DISP_E_EXCEPTION) {
      if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
      std::string description = fromBstr(info.bstrDescription), source = fromBstr(info.bstrSource);
      int32_t number = exceptionNumber(info);
      SysFreeString(info.bstrDescription);
      SysFreeString(info.bstrSource);
      SysFreeString(info.bstrHelpFile);
      throw AutomationError(number, description, source);
    }
    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) raiseNoSuchMember(member);
    if (hr == DISP_E_TYPEMISMATCH) raiseTypeMismatch();
    throw AutomationError(toErrorNumber(hr), "Automation error");
  }

  IDispatch* dispatch_;
  std::map<std::string, DISPID, CaseInsensitiveLess> ids_;
};

}  // namespace

ObjectRef wrapDispatch(IDispatch* dispatch) { return std::make_shared<DispatchObject>(dispatch); }

IDispatch* dispatchOf(Object& object) {
  auto* d = dynamic_cast<DispatchObject*>(&object);
  return d ? d->dispatch() : nullptr;
}

}  // namespace quenvar::com
