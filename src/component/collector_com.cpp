// Collector as clients see it: the dual interface over the process's collector settings, which
// every instance shares.

#include "collector_com.h"

#include "bstr.h"
#include "com_object.h"
#include "quenvar/collector.h"
#include "quenvar.h"

namespace quenvar::com {

namespace {

class CollectorCom : public ComObject<_Collector, &IID__Collector> {
 public:
  HRESULT STDMETHODCALLTYPE get_Dsn(BSTR* v) override { return read(v, [&] { return toBstr(c_.Dsn()); }); }
  HRESULT STDMETHODCALLTYPE put_Dsn(BSTR v) override { return call([&] { c_.Dsn(fromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE get_Environment(BSTR* v) override {
    return read(v, [&] { return toBstr(c_.Environment()); });
  }
  HRESULT STDMETHODCALLTYPE put_Environment(BSTR v) override { return call([&] { c_.Environment(fromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE get_Release(BSTR* v) override { return read(v, [&] { return toBstr(c_.Release()); }); }
  HRESULT STDMETHODCALLTYPE put_Release(BSTR v) override { return call([&] { c_.Release(fromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE get_CAFile(BSTR* v) override { return read(v, [&] { return toBstr(c_.CAFile()); }); }
  HRESULT STDMETHODCALLTYPE put_CAFile(BSTR v) override { return call([&] { c_.CAFile(fromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE get_SendUserName(VARIANT_BOOL* v) override {
    return read(v, [&] { return boolean(c_.SendUserName()); });
  }
  HRESULT STDMETHODCALLTYPE put_SendUserName(VARIANT_BOOL v) override {
    return call([&] { c_.SendUserName(v != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_ConsentRequired(VARIANT_BOOL* v) override {
    return read(v, [&] { return boolean(c_.ConsentRequired()); });
  }
  HRESULT STDMETHODCALLTYPE put_ConsentRequired(VARIANT_BOOL v) override {
    return call([&] { c_.ConsentRequired(v != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_Consent(LONG* v) override { return read(v, [&] { return c_.Consent(); }); }
  HRESULT STDMETHODCALLTYPE put_Consent(LONG v) override { return call([&] { c_.Consent(v); }); }
  HRESULT STDMETHODCALLTYPE get_Pending(LONG* v) override { return read(v, [&] { return c_.Pending(); }); }
  HRESULT STDMETHODCALLTYPE Flush(LONG timeoutMs, LONG* waiting) override {
    return read(waiting, [&] { return c_.Flush(timeoutMs); });
  }
  HRESULT STDMETHODCALLTYPE get_LastEventId(BSTR* v) override {
    return read(v, [&] { return toBstr(c_.LastEventId()); });
  }
  HRESULT STDMETHODCALLTYPE get_LastError(BSTR* v) override { return read(v, [&] { return toBstr(c_.LastError()); }); }
  HRESULT STDMETHODCALLTYPE get_CatchCrashes(VARIANT_BOOL* v) override {
    return read(v, [&] { return boolean(c_.CatchCrashes()); });
  }
  HRESULT STDMETHODCALLTYPE put_CatchCrashes(VARIANT_BOOL v) override {
    return call([&] { c_.CatchCrashes(v != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_CrashedLastRun(VARIANT_BOOL* v) override {
    return read(v, [&] { return boolean(c_.CrashedLastRun()); });
  }
  HRESULT STDMETHODCALLTYPE ClearCrashedLastRun() override { return call([&] { c_.ClearCrashedLastRun(); }); }
  HRESULT STDMETHODCALLTYPE get_TrackSessions(VARIANT_BOOL* v) override {
    return read(v, [&] { return boolean(c_.TrackSessions()); });
  }
  HRESULT STDMETHODCALLTYPE put_TrackSessions(VARIANT_BOOL v) override {
    return call([&] { c_.TrackSessions(v != VARIANT_FALSE); });
  }

 private:
  static VARIANT_BOOL boolean(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }
  quenvar::Collector c_;
};

}  // namespace

HRESULT createCollector(REFIID iid, void** out) { return createObject<CollectorCom>(iid, out); }

}  // namespace quenvar::com
