// clsErrHandler as clients see it: the dual interface over the handler, its events through
// connection points, and class information for event binding.

#include "err_handler_com.h"

#include <ocidl.h>
#include <olectl.h>

#include <optional>
#include <vector>

#include "bstr.h"
#include "com_errors.h"
#include "com_object.h"
#include "connection_points.h"
#include "dispatch_object.h"
#include "quenvar/err_handler.h"
#include "quenvar.h"
#include "sys_obj_com.h"
#include "quenvar/sys_obj.h"
#include "variant_convert.h"

namespace quenvar::com {

namespace {

// The interface clients bound to before the current one: the same vtable under another IID.
const IID IID_clsErrHandler_v0 = {0xA43B5121, 0xAA23, 0x4477, {0xB0, 0xC7, 0xBA, 0x41, 0xA3, 0x63, 0xAE, 0x6A}};
// The earlier event interface, still offered to sinks.
const IID DIID_clsErrHandler_v0 = {0xEE633794, 0xBC9F, 0x4446, {0x91, 0x76, 0x44, 0x3D, 0xB4, 0xFA, 0x72, 0x97}};

VARIANT_BOOL toVariantBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

class ErrHandlerCom : public ComObject<_clsErrHandler, &IID__clsErrHandler>,
                      public IConnectionPointContainer,
                      public IProvideClassInfo2,
                      public HandlerEvents {
 public:
  ErrHandlerCom() : events_(*this, DIID___clsErrHandler), earlierEvents_(*this, DIID_clsErrHandler_v0) {}
  ~ErrHandlerCom() override {
    if (sysObj_) sysObj_->Release();
  }

  // The handler forwards its events here (registered once the object is fully built).
  std::shared_ptr<HandlerEvents> self() { return std::shared_ptr<HandlerEvents>(this, [](HandlerEvents*) {}); }
  void start() { handler_.advise(self()); }

  ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return ComObject::QueryInterface(iid, out);
  }

  // Results and texts.
  HRESULT STDMETHODCALLTYPE get_ErrorLogDisplay(BSTR* v) override { return text(v, [&] { return handler_.ErrorLogDisplay(); }); }
  HRESULT STDMETHODCALLTYPE get_AppLogDisplay(BSTR* v) override { return text(v, [&] { return handler_.AppLogDisplay(); }); }
  HRESULT STDMETHODCALLTYPE get_SysLogDisplay(BSTR* v) override { return text(v, [&] { return handler_.SysLogDisplay(); }); }
  HRESULT STDMETHODCALLTYPE get_DbLogDisplay(BSTR* v) override { return text(v, [&] { return handler_.DbLogDisplay(); }); }
  HRESULT STDMETHODCALLTYPE get_CurrentOperation(BSTR* v) override { return text(v, [&] { return handler_.CurrentOperation(); }); }
  HRESULT STDMETHODCALLTYPE get_ErrorType(BSTR* v) override { return text(v, [&] { return handler_.ErrorType(); }); }
  HRESULT STDMETHODCALLTYPE get_Destination(BSTR* v) override { return text(v, [&] { return handler_.Destination(); }); }
  HRESULT STDMETHODCALLTYPE get_ErrDesc(BSTR* v) override { return text(v, [&] { return handler_.ErrDesc(); }); }
  HRESULT STDMETHODCALLTYPE get_ProcName(BSTR* v) override { return text(v, [&] { return handler_.ProcName(); }); }
  HRESULT STDMETHODCALLTYPE get_ErrLine(BSTR* v) override { return text(v, [&] { return handler_.ErrLine(); }); }
  HRESULT STDMETHODCALLTYPE get_ADOVersion(BSTR* v) override { return text(v, [&] { return handler_.ADOVersion(); }); }
  HRESULT STDMETHODCALLTYPE ShowParam(BSTR* v) override { return text(v, [&] { return handler_.ShowParam(); }); }
  HRESULT STDMETHODCALLTYPE get_ErrNum(LONG* v) override {
    if (!v) return E_POINTER;
    *v = handler_.ErrNum();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CallStack(VARIANT* v) override {
    return variant(v, [&] { return Variant(handler_.CallStack()); });
  }
  HRESULT STDMETHODCALLTYPE get_CustomErrMessage(VARIANT* v) override {
    return variant(v, [&] { return handler_.CustomErrMessage(); });
  }

  // Configuration.
  HRESULT STDMETHODCALLTYPE put_CurrentOperation(BSTR v) override {
    return run([&] { handler_.CurrentOperation(fromBstr(v)); });
  }
  HRESULT STDMETHODCALLTYPE put_Destination(BSTR v) override { return run([&] { handler_.Destination(fromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE put_Cn(IDispatch** v) override {
    return run([&] { handler_.Cn(v && *v ? wrapDispatch(*v) : nullptr); });
  }
  HRESULT STDMETHODCALLTYPE get_Cn(IDispatch** v) override { return object(v, handler_.Cn()); }
  HRESULT STDMETHODCALLTYPE put_AppObject(IDispatch* v) override {
    return run([&] { handler_.AppObject(v ? wrapDispatch(v) : nullptr); });
  }
  HRESULT STDMETHODCALLTYPE get_AppObject(IDispatch** v) override { return object(v, handler_.AppObject()); }
  HRESULT STDMETHODCALLTYPE put_UseInterface(VARIANT_BOOL* v) override {
    return run([&] { handler_.UseInterface(v && *v != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE put_TraceExecution(VARIANT_BOOL v) override {
    return run([&] { handler_.TraceExecution(v != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_LogEvent(VARIANT_BOOL* v) override { return boolean(v, handler_.LogEvent()); }
  HRESULT STDMETHODCALLTYPE put_LogEvent(VARIANT_BOOL v) override { return run([&] { handler_.LogEvent(v != VARIANT_FALSE); }); }
  HRESULT STDMETHODCALLTYPE get_ShowAppInfo(VARIANT_BOOL* v) override { return boolean(v, handler_.ShowAppInfo()); }
  HRESULT STDMETHODCALLTYPE put_ShowAppInfo(VARIANT_BOOL v) override { return run([&] { handler_.ShowAppInfo(v != VARIANT_FALSE); }); }
  HRESULT STDMETHODCALLTYPE get_ShowSysInfo(VARIANT_BOOL* v) override { return boolean(v, handler_.ShowSysInfo()); }
  HRESULT STDMETHODCALLTYPE put_ShowSysInfo(VARIANT_BOOL v) override { return run([&] { handler_.ShowSysInfo(v != VARIANT_FALSE); }); }
  HRESULT STDMETHODCALLTYPE get_ShowDBInfo(VARIANT_BOOL* v) override { return boolean(v, handler_.ShowDBInfo()); }
  HRESULT STDMETHODCALLTYPE put_ShowDBInfo(VARIANT_BOOL v) override { return run([&] { handler_.ShowDBInfo(v != VARIANT_FALSE); }); }
  HRESULT STDMETHODCALLTYPE get_SysObject(_SysObj** v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return run([&] {
      // One SysObj per handler, the same object on every read.
      if (!sysObj_) sysObj_ = createSysObj(handler_.SysObject());
      sysObj_->AddRef();
      *v = sysObj_;
    });
  }

  // E-mail.
  HRESULT STDMETHODCALLTYPE put_EmailAddress(BSTR* v) override { return run([&] { handler_.EmailAddress(in(v)); }); }
  HRESULT STDMETHODCALLTYPE put_ToName(BSTR* v) override { return run([&] { handler_.ToName(in(v)); }); }
  HRESULT STDMETHODCALLTYPE put_FromName(BSTR* v) override { return run([&] { handler_.FromName(in(v)); }); }
  HRESULT STDMETHODCALLTYPE put_FromEmailAddress(BSTR* v) override {
    return run([&] { handler_.FromEmailAddress(in(v)); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPMailServer(BSTR* v) override { return run([&] { handler_.SMTPMailServer(in(v)); }); }
  HRESULT STDMETHODCALLTYPE put_EmailType(Email_Type* v) override {
    return run([&] { handler_.EmailType(v ? static_cast<int32_t>(*v) : 0); });
  }
  HRESULT STDMETHODCALLTYPE get_EmailType(Email_Type* v) override {
    if (!v) return E_POINTER;
    return run([&] { *v = static_cast<Email_Type>(handler_.EmailType()); });
  }
  HRESULT STDMETHODCALLTYPE get_EmailSettings(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    return run([&] { *v = toVariantBool(handler_.EmailSettings()); });
  }
  HRESULT STDMETHODCALLTYPE put_EmailSettings(VARIANT_BOOL v) override {
    return run([&] { handler_.EmailSettings(v != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE ChangeEmailSettings() override {
    return run([&] { handler_.ChangeEmailSettings(); });
  }
  // The sending ends silently on any failure: only copying the text can fail here.
  HRESULT STDMETHODCALLTYPE TransmitMail(BSTR lbxErrMessage) override {
    return run([&] { handler_.TransmitMail(fromBstr(lbxErrMessage)); });
  }

  // The stack and the handling.
  // The usual move needs no frame of its own; everything else is handed on whole.
  HRESULT STDMETHODCALLTYPE Push(BSTR* strProc, LONG* status) override {
    if (!status || !handler_.tryPushInPlace(bstrView(strProc ? *strProc : nullptr))) return pushAnyWay(strProc, status);
    *status = 0;
    return S_OK;
  }
  [[gnu::noinline]] HRESULT STDMETHODCALLTYPE pushAnyWay(BSTR* strProc, LONG* status) {
    if (!status) return E_POINTER;
    *status = handler_.Push(bstrView(strProc ? *strProc : nullptr));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Pop(LONG* status) override {
    if (!status || !handler_.tryPopInPlace()) return popAnyWay(status);
    *status = 0;
    return S_OK;
  }
  [[gnu::noinline]] HRESULT STDMETHODCALLTYPE popAnyWay(LONG* status) {
    if (!status) return E_POINTER;
    *status = handler_.Pop();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddParam(BSTR* sParam, BSTR* sType, VARIANT* vVal) override {
    return run([&] { handler_.AddParam(in(sParam), in(sType), vVal ? fromVariant(*vVal) : Variant()); });
  }
  HRESULT STDMETHODCALLTYPE HandleError(BSTR desc, double number, LONG line, BSTR* custom, LONG* status) override {
    if (!status) return E_POINTER;
    // Never raises: every failure is the status.
    Hold hold(*this);
    try {
      *status = handler_.HandleError(fromBstr(desc), number, line, in(custom));
    } catch (...) {
      *status = currentFailure().number();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShowErrorLog(short mode) override { return run([&] { handler_.ShowErrorLog(mode); }); }

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    *out = enumConnectionPoints({&events_, &earlierEvents_});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = iid == events_.iid() ? &events_ : iid == earlierEvents_.iid() ? &earlierEvents_ : nullptr;
    if (!*out) return CONNECT_E_NOCONNECTION;
    (*out)->AddRef();
    return S_OK;
  }

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = typeInfoOf(CLSID_clsErrHandler);
    return *out ? S_OK : E_UNEXPECTED;
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override {
    if (!out) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *out = DIID___clsErrHandler;
    return S_OK;
  }

  // HandlerEvents: the handler's events go to every connected sink.
  void BeforeHandlerCalled(bool& Cancel) override {
    VARIANT_BOOL cancel = toVariantBool(Cancel);
    VARIANT arg;
    arg.vt = VT_BYREF | VT_BOOL;
    arg.pboolVal = &cancel;
    fire(1, &arg, 1);
    Cancel = cancel != VARIANT_FALSE;
  }
  void AfterHandlerCalled() override { fire(2, nullptr, 0); }

 protected:
  void* queryExtra(REFIID iid) override {
    if (iid == IID_clsErrHandler_v0) return static_cast<_clsErrHandler*>(this);
    if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
    return nullptr;
  }

 private:
  static std::string in(BSTR* v) { return v ? fromBstr(*v) : std::string(); }

  template <class Body>
  HRESULT run(Body&& body) {
    return call(std::forward<Body>(body));
  }
  template <class Get>
  HRESULT text(BSTR* out, Get&& get) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return run([&] { *out = toBstr(get()); });
  }
  template <class Get>
  HRESULT variant(VARIANT* out, Get&& get) {
    if (!out) return E_POINTER;
    VariantInit(out);
    return run([&] { toVariant(get(), out); });
  }
  static HRESULT boolean(VARIANT_BOOL* out, bool value) {
    if (!out) return E_POINTER;
    *out = toVariantBool(value);
    return S_OK;
  }
  HRESULT object(IDispatch** out, const ObjectRef& value) {
    if (!out) return E_POINTER;
    *out = value ? dispatchOf(*value) : nullptr;
    if (*out) (*out)->AddRef();
    return S_OK;
  }

  // Sinks that lack a member simply do not listen; a sink that raises fails the event.
  void fire(DISPID id, VARIANT* args, UINT count) {
    std::vector<IDispatch*> sinks = events_.sinks();
    std::vector<IDispatch*> earlier = earlierEvents_.sinks();
    sinks.insert(sinks.end(), earlier.begin(), earlier.end());
    std::optional<AutomationError> failure;
    for (IDispatch* sink : sinks) {
      if (!failure) {
        DISPPARAMS params{args, nullptr, count, 0};
        EXCEPINFO info{};
        HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
        if (hr == DISP_E_EXCEPTION) {
          if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
          failure.emplace(exceptionNumber(info), fromBstr(info.bstrDescription),
                          fromBstr(info.bstrSource));
          SysFreeString(info.bstrSource);
          SysFreeString(info.bstrDescription);
          SysFreeString(info.bstrHelpFile);
        }
      }
      sink->Release();
    }
    if (failure) throw *failure;
  }

  clsErrHandler handler_;
  ConnectionPoint events_;
  ConnectionPoint earlierEvents_;
  _SysObj* sysObj_ = nullptr;
};

}  // namespace

HRESULT createErrHandler(REFIID iid, void** out) {
  ErrHandlerCom* object = nullptr;
  try {
    object = new ErrHandlerCom();
    object->start();
  } catch (...) {
    delete object;
    return E_OUTOFMEMORY;
  }
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace quenvar::com
