// Run from a folder holding the installed Quenvar.dll and its manifest, in a prefix where nothing
// is registered: this program's own manifest names the Quenvar assembly, whose activation
// context alone must let it find the classes by ProgID and by class id and call their members.

#include "client_support.h"

using namespace client;

int main() {
  Apartment apartment;
  CHECK_EQ(apartment.hr, S_OK);

  // An activation context may answer an alias of the class id for a ProgID (Wine does): what
  // counts is that the answer creates the handler, as a script's CreateObject relies on.
  CLSID byName{};
  CHECK_EQ(CLSIDFromProgID(L"Quenvar.clsErrHandler", &byName), S_OK);
  Ptr<_clsErrHandler> named;
  CHECK_EQ(CoCreateInstance(byName, nullptr, CLSCTX_INPROC_SERVER, IID__clsErrHandler, named.putVoid()), S_OK);
  CHECK(named);

  // The second class, by ProgID alone; its port reads the default in this fresh prefix.
  CLSID mailSettingsId{};
  CHECK_EQ(CLSIDFromProgID(L"Quenvar.MailSettings", &mailSettingsId), S_OK);
  Ptr<_MailSettings> mailSettings;
  CHECK_EQ(CoCreateInstance(mailSettingsId, nullptr, CLSCTX_INPROC_SERVER, IID__MailSettings, mailSettings.putVoid()),
           S_OK);
  LONG port = 0;
  if (mailSettings) CHECK_EQ(mailSettings->get_SMTPPort(&port), S_OK);
  CHECK_EQ(port, 25);

  // The third, the collector: nothing waits in this fresh prefix.
  CLSID collectorId{};
  CHECK_EQ(CLSIDFromProgID(L"Quenvar.Collector", &collectorId), S_OK);
  Ptr<_Collector> collector;
  CHECK_EQ(CoCreateInstance(collectorId, nullptr, CLSCTX_INPROC_SERVER, IID__Collector, collector.putVoid()), S_OK);
  LONG waiting = -1;
  if (collector) CHECK_EQ(collector->get_Pending(&waiting), S_OK);
  CHECK_EQ(waiting, 0);

  Ptr<_clsErrHandler> h = createHandler();
  if (!h) return finish("reg_free");
  BSTR procedure = SysAllocString(L"PostInvoice");
  LONG status = -1;
  CHECK_EQ(h->Push(&procedure, &status), S_OK);
  CHECK_EQ(status, 0);
  SysFreeString(procedure);
  CHECK_EQ(callStack(h.get()), (std::vector<std::wstring>{L"", L"PostInvoice"}));

  // Late bound, as a script host calls it: the type information comes from the DLL itself.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Pop")};
  DISPID pop = DISPID_UNKNOWN;
  CHECK_EQ(h->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &pop), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Var result;
  CHECK_EQ(h->Invoke(pop, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  CHECK_EQ(callStack(h.get()), std::vector<std::wstring>{L""});
  return finish("reg_free");
}
