#include "class_factory.h"

#include "err_handler_com.h"
#include "collector_com.h"
#include "mail_settings_com.h"
#include "module.h"
#include "quenvar.h"

namespace quenvar::com {

namespace {

class Factory : public IClassFactory {
 public:
  using Create = HRESULT (*)(REFIID, void**);
  explicit Factory(Create create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // The factory lives as long as the DLL; a reference held by a client counts as a lock.
  ULONG STDMETHODCALLTYPE AddRef() override {
    lockServer(true);
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    lockServer(false);
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lockServer(lock != FALSE);
    return S_OK;
  }

 private:
  Create create_;
};

}  // namespace

IClassFactory* classFactory(REFCLSID clsid) {
  static Factory errHandler(createErrHandler), mailSettings(createMailSettings), collector(createCollector);
  if (clsid == CLSID_clsErrHandler) return &errHandler;
  if (clsid == CLSID_MailSettings) return &mailSettings;
  if (clsid == CLSID_Collector) return &collector;
  return nullptr;
}

}  // namespace quenvar::com
