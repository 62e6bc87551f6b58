#pragma once
// The one COM object template: reference counting tied to the module's object count and to
// its thread's state, error-information support, and an IDispatch driven by the type library
// for the primary dual interface. A class lists the further interfaces it answers in
// queryInterface, and runs every member that can reach a client's code through call().

#include <windows.h>
#include <oaidl.h>

#include <atomic>

#include "com_errors.h"
#include "dispatch_invoke.h"
#include "module.h"
#include "platform/win32/thread_state_win32.h"

namespace quenvar::com {

template <class Primary, const IID* PrimaryIid>
class ComObject : public Primary, public ISupportErrorInfo {
 public:
  ComObject() : thread_(win32::holdThreadState()) { objectCreated(); }
  virtual ~ComObject() {
    if (typeInfo_) typeInfo_->Release();
    // The thread's last object takes the thread's state (the client's objects in it) along, here
    // rather than at thread detach under the loader lock.
    win32::releaseThreadStateHold(thread_);
    objectDestroyed();
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == *PrimaryIid) {
      *out = static_cast<Primary*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = queryExtra(iid);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == *PrimaryIid ? S_OK : S_FALSE;
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    if (!dispatchInfo()) return TYPE_E_ELEMENTNOTFOUND;
    typeInfo_->AddRef();
    *out = typeInfo_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    const DispatchTable* t = table();
    return t ? t->idsOfNames(names, count, ids) : TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override {
    const DispatchTable* t = table();
    if (!t) return TYPE_E_ELEMENTNOTFOUND;
    Hold hold(*this);
    return t->invoke(static_cast<Primary*>(this), id, flags, params, result, exception, argError);
  }

 protected:
  // A client's code run from inside a member (a default member read, an event, a message loop)
  // may release the client's last reference: the object lives until the member returns.
  class Hold {
   public:
    explicit Hold(ComObject& o) : o_(o) { o_.AddRef(); }
    ~Hold() { o_.Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    ComObject& o_;
  };
  // Runs a member's body alive and guarded: any failure becomes the primary interface's error
  // information. Members that cannot reach a client's code (Push, Pop, plain reads) skip it to
  // stay as cheap as a call can be.
  template <class Body>
  HRESULT call(Body&& body) {
    Hold hold(*this);
    return guarded(*PrimaryIid, std::forward<Body>(body));
  }

  // A read through call(); the out value is cleared first, so a failed read never leaves the
  // client a stale pointer.
  template <class T, class Get>
  HRESULT read(T* out, Get&& get) {
    if (!out) return E_POINTER;
    *out = T{};
    return call([&] { *out = get(); });
  }

  // Further interfaces of the class (already cast); nullptr when not supported.
  virtual void* queryExtra(REFIID) { return nullptr; }

 private:
  ITypeInfo* dispatchInfo() {
    if (!typeInfo_) typeInfo_ = typeInfoOf(*PrimaryIid);
    return typeInfo_;
  }
  // One table per interface, read from the type library on first use.
  static const DispatchTable* table() {
    static const DispatchTable* t = []() -> const DispatchTable* {
      ITypeInfo* info = vtableTypeInfoOf(*PrimaryIid);
      if (!info) return nullptr;
      auto* built = new DispatchTable(info);
      info->Release();
      return built;
    }();
    return t;
  }

  std::atomic<ULONG> refs_{1};
  win32::ThreadStateHold* thread_;
  ITypeInfo* typeInfo_ = nullptr;
};

// A new object of a class whose constructor does all its setting up, answering `iid`.
template <class Object>
HRESULT createObject(REFIID iid, void** out) {
  Object* object = nullptr;
  try {
    object = new Object();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace quenvar::com
