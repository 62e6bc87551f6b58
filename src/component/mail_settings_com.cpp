// MailSettings as clients see it: the dual interface over the user's SMTP transport settings.
// The password has no getter here, so a client cannot read it back.

#include "mail_settings_com.h"

#include "bstr.h"
#include "com_object.h"
#include "quenvar/mail_settings.h"
#include "quenvar.h"

namespace quenvar::com {

namespace {

class MailSettingsCom : public ComObject<_MailSettings, &IID__MailSettings> {
 public:
  HRESULT STDMETHODCALLTYPE get_SMTPPort(LONG* v) override { return read(v, [&] { return settings_.SMTPPort(); }); }
  HRESULT STDMETHODCALLTYPE put_SMTPPort(LONG v) override { return call([&] { settings_.SMTPPort(v); }); }
  HRESULT STDMETHODCALLTYPE get_SMTPSecurity(LONG* v) override {
    return read(v, [&] { return settings_.SMTPSecurity(); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPSecurity(LONG v) override { return call([&] { settings_.SMTPSecurity(v); }); }
  HRESULT STDMETHODCALLTYPE get_SMTPUserName(BSTR* v) override {
    return read(v, [&] { return toBstr(settings_.SMTPUserName()); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPUserName(BSTR v) override {
    return call([&] { settings_.SMTPUserName(fromBstr(v)); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPPassword(BSTR v) override {
    return call([&] { settings_.SMTPPassword(fromBstr(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_SMTPCAFile(BSTR* v) override {
    return read(v, [&] { return toBstr(settings_.SMTPCAFile()); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPCAFile(BSTR v) override { return call([&] { settings_.SMTPCAFile(fromBstr(v)); }); }

 private:
  quenvar::MailSettings settings_;
};

}  // namespace

HRESULT createMailSettings(REFIID iid, void** out) { return createObject<MailSettingsCom>(iid, out); }

}  // namespace quenvar::com
