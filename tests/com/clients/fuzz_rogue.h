#pragma once
// Client objects the component calls back (application, connection, parameter values, event
// sinks). Each call answers at random: a value, a failure, an exception filled now or later, a
// QueryInterface that says yes without an interface, a call back into a handler, or the release
// of one of the client's handler references. They also check what the component hands them.

#include "fuzz_values.h"

namespace fuzz {

// What a client object may do besides answering; the client sets them.
struct Callbacks {
  std::function<void()> reenter;      // one random call on a handler; the client bounds the depth
  std::function<void()> dropHandler;  // the client gives up one of its handler references
  std::function<void(const std::string&)> fail;
};

// The events interface clients bound to before the current one.
inline const IID kEarlierEvents = {0xEE633794, 0xBC9F, 0x4446, {0x91, 0x76, 0x44, 0x3D, 0xB4, 0xFA, 0x72, 0x97}};

class Rogue : public client::Dispatch {
 public:
  // `owned` makes values that own what they hold: a result outlives the call that made it.
  // `selfish`: its default value is itself, always, as with `Set Value = Me`.
  Rogue(Rng& rng, Values& owned, Callbacks& callbacks, bool dispatchable, bool selfish)
      : rng_(rng), owned_(owned), callbacks_(callbacks), dispatchable_(dispatchable), selfish_(selfish) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) {
      callbacks_.fail("QueryInterface with a null out pointer");
      return E_POINTER;
    }
    *out = nullptr;
    if (rng_.percent(3)) return S_OK;
    const bool known = iid == IID_IUnknown || (dispatchable_ && (iid == IID_IDispatch || iid == DIID___clsErrHandler ||
                                                                 iid == kEarlierEvents));
    if (!known) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  // The client holds one reference for as long as it runs: the count never reaches zero.
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs == 1) {
      callbacks_.fail("a reference to a client object released that nobody took");
      return 1;
    }
    return --refs;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return rng_.percent(10) ? E_NOTIMPL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) {
      callbacks_.fail("GetIDsOfNames without a name");
      return E_INVALIDARG;
    }
    for (UINT i = 0; i < count; ++i) {
      if (!names[i]) {
        callbacks_.fail("GetIDsOfNames with a null name");
        return E_INVALIDARG;
      }
      ids[i] = rng_.percent(10) ? DISPID_VALUE : static_cast<DISPID>(1 + rng_.below(8));
    }
    switch (rng_.below(8)) {
      case 0: return DISP_E_UNKNOWNNAME;
      case 1: return E_NOTIMPL;  // as script objects answer: the caller may try IDispatchEx
      case 2: return static_cast<HRESULT>(rng_.bits() | 0x80000000u);
      default: return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT*) override {
    if (iid != IID_NULL) callbacks_.fail("Invoke with an interface id other than IID_NULL");
    if (!params || (params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs) {
      callbacks_.fail("malformed DISPPARAMS from the component");
    } else {
      for (UINT i = 0; i < params->cArgs; ++i)  // an event's Cancel
        if (params->rgvarg[i].vt == (VT_BYREF | VT_BOOL) && params->rgvarg[i].pboolVal)
          *params->rgvarg[i].pboolVal = owned_.boolean();
    }
    if (selfish_ && id == DISPID_VALUE && result) {
      result->vt = VT_DISPATCH;
      result->pdispVal = this;
      AddRef();
      return S_OK;
    }
    if (rng_.percent(12)) callbacks_.reenter();
    if (rng_.percent(4)) callbacks_.dropHandler();
    const uint32_t r = rng_.below(10);
    if (result && (r < 5 || rng_.percent(10))) owned_.fill(result);  // sometimes a value with a failure
    static const HRESULT failures[] = {E_FAIL, E_OUTOFMEMORY, E_NOINTERFACE, DISP_E_MEMBERNOTFOUND,
                                       DISP_E_TYPEMISMATCH, DISP_E_BADPARAMCOUNT, RPC_E_DISCONNECTED,
                                       static_cast<HRESULT>(0x800A0009), static_cast<HRESULT>(0x80040E14)};
    switch (r) {
      case 5: return S_OK;
      case 6: return rng_.pick(failures);
      case 7:
      case 8: return exception(info);
      case 9: return static_cast<HRESULT>(rng_.bits());
      default: return S_OK;
    }
  }

 private:
  HRESULT exception(EXCEPINFO* info) {
    static const SCODE scodes[] = {0, 0, 1, E_FAIL, DISP_E_EXCEPTION, static_cast<SCODE>(0x800A0009),
                                   static_cast<SCODE>(0x80040E14)};
    if (!info) return DISP_E_EXCEPTION;
    info->wCode = rng_.pick(codes_);
    info->scode = rng_.pick(scodes);
    info->dwHelpContext = static_cast<DWORD>(rng_.bits());
    if (rng_.percent(25)) {
      deferred_ = this;
      info->pfnDeferredFillIn = &fillLater;
    } else {
      describe(info);
    }
    return DISP_E_EXCEPTION;
  }
  void describe(EXCEPINFO* info) {
    info->bstrSource = owned_.text();
    info->bstrDescription = owned_.text();
    if (rng_.percent(20)) info->bstrHelpFile = owned_.text();
  }
  static HRESULT STDMETHODCALLTYPE fillLater(EXCEPINFO* info) {
    if (!info) return E_POINTER;
    deferred_->describe(info);
    info->wCode = deferred_->rng_.pick(codes_);
    return deferred_->rng_.percent(20) ? E_FAIL : S_OK;
  }

  static constexpr WORD codes_[] = {0, 0, 1, 5, 9, 440, 1001, 65535};
  inline static Rogue* deferred_ = nullptr;
  Rng& rng_;
  Values& owned_;
  Callbacks& callbacks_;
  const bool dispatchable_, selfish_;
};

}  // namespace fuzz
