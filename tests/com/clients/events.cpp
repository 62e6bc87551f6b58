// Events as a compiled client receives them: sinks on either event interface, the veto, sinks that
// fail or do not listen, and what event binding reads from the object. Script hosts cannot sink
// events, so this is their only client-side test.

#include <ocidl.h>
#include <olectl.h>

#include <filesystem>
#include <fstream>

#include "client_support.h"

using namespace client;

namespace {

const IID kEarlierEvents = {0xEE633794, 0xBC9F, 0x4446, {0x91, 0x76, 0x44, 0x3D, 0xB4, 0xFA, 0x72, 0x97}};
const IID kEarlierInterface = {0xA43B5121, 0xAA23, 0x4477, {0xB0, 0xC7, 0xBA, 0x41, 0xA3, 0x63, 0xAE, 0x6A}};

// Writes what it hears: B before, A after, x a call it does not answer, ? malformed arguments.
class Sink : public Dispatch {
 public:
  enum class Mode { Listen, Cancel, Raise, Deaf };
  explicit Sink(Mode m = Mode::Listen) : mode(m) {}
  Mode mode;
  std::string heard;

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO* info,
                                   UINT*) override {
    if (mode == Mode::Deaf) {
      heard += 'x';
      return DISP_E_MEMBERNOTFOUND;
    }
    if (id == 2) {
      heard += params->cArgs == 0 ? 'A' : '?';
      return S_OK;
    }
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    VARIANT& cancel = params->rgvarg[0];
    if (params->cArgs != 1 || cancel.vt != (VT_BYREF | VT_BOOL) || *cancel.pboolVal != VARIANT_FALSE) {
      heard += '?';
      return E_INVALIDARG;
    }
    heard += 'B';
    if (mode == Mode::Cancel) *cancel.pboolVal = VARIANT_TRUE;
    if (mode == Mode::Raise && info) {
      *info = EXCEPINFO{};
      info->wCode = 1234;
      info->bstrDescription = SysAllocString(L"refused by the sink");
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }

 protected:
  bool answers(REFIID iid) override { return iid == DIID___clsErrHandler || iid == kEarlierEvents; }
};

struct Connection {
  Ptr<IConnectionPoint> point;
  DWORD cookie = 0;
  Connection(IUnknown* source, REFIID iid, Sink& sink) {
    Ptr<IConnectionPointContainer> container;
    source->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
    CHECK(container);
    if (container) CHECK_EQ(container->FindConnectionPoint(iid, point.put()), S_OK);
    if (point) CHECK_EQ(point->Advise(&sink, &cookie), S_OK);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (point && cookie) point->Unadvise(cookie);
  }
};


Ptr<_clsErrHandler> handlerWritingTo(const Folder& folder) {
  auto h = createHandler();
  Bstr path(folder.path.wstring().c_str());
  if (h) CHECK_EQ(h->put_Destination(path.get()), S_OK);
  return h;
}

LONG push(_clsErrHandler* h, const wchar_t* name) {
  Bstr b(name);
  BSTR p = b.get();
  LONG status = -1;
  CHECK_EQ(h->Push(&p, &status), S_OK);
  return status;
}

LONG handle(_clsErrHandler* h, double number) {
  Bstr desc(L"Division by zero");
  LONG status = -1;
  CHECK_EQ(h->HandleError(desc.get(), number, 12, nullptr, &status), S_OK);
  return status;
}

void bothEventInterfacesHearEachHandlingOnce() {
  Folder folder("events");
  Sink current, earlier;
  {
    auto h = handlerWritingTo(folder);
    if (!h) return;
    Connection a(h.get(), DIID___clsErrHandler, current), b(h.get(), kEarlierEvents, earlier);
    IID iid{};
    if (a.point) CHECK(SUCCEEDED(a.point->GetConnectionInterface(&iid)) && iid == DIID___clsErrHandler);

    Ptr<IEnumConnections> connections;
    CONNECTDATA data{};
    ULONG fetched = 0;
    if (a.point && SUCCEEDED(a.point->EnumConnections(connections.put())) &&
        connections->Next(1, &data, &fetched) == S_OK) {
      CHECK_EQ(data.dwCookie, a.cookie);
      CHECK_EQ(data.pUnk, static_cast<IUnknown*>(&current));
      data.pUnk->Release();
      CHECK_EQ(connections->Next(1, &data, &fetched), S_FALSE);
    } else {
      fail(__FILE__, __LINE__, "EnumConnections lists nothing");
    }
    connections.reset();

    CHECK_EQ(push(h.get(), L"Calc"), 0);
    CHECK_EQ(handle(h.get(), 11), 0);
    CHECK_EQ(current.heard, std::string("BA"));
    CHECK_EQ(earlier.heard, std::string("BA"));
    CHECK(folder.read().find("Division by zero") != std::string::npos);

    CHECK_EQ(a.point->Unadvise(a.cookie), S_OK);
    CHECK_EQ(a.point->Unadvise(a.cookie), CONNECT_E_NOCONNECTION);
    a.cookie = 0;
    CHECK_EQ(handle(h.get(), 11), 0);
    CHECK_EQ(current.heard, std::string("BA"));
    CHECK_EQ(earlier.heard, std::string("BABA"));

    Ptr<IConnectionPoint> none;
    CHECK_EQ(h.as<IConnectionPointContainer>(IID_IConnectionPointContainer)->FindConnectionPoint(IID_IDispatch, none.put()),
             CONNECT_E_NOCONNECTION);
  }
  // Nothing of the sinks is kept once the handler is gone.
  CHECK_EQ(current.refs, 1ul);
  CHECK_EQ(earlier.refs, 1ul);
}

void vetoKeepsTheLogButNotifiesAndUnwinds() {
  Folder folder("events");
  folder.write("marker");
  Sink vetoing(Sink::Mode::Cancel);
  auto h = handlerWritingTo(folder);
  if (!h) return;
  Connection c(h.get(), DIID___clsErrHandler, vetoing);
  push(h.get(), L"Outer");
  push(h.get(), L"Inner");
  CHECK_EQ(handle(h.get(), 7), 0);
  CHECK_EQ(folder.read(), std::string("marker"));
  CHECK_EQ(vetoing.heard, std::string("BA"));
  CHECK_EQ(callStack(h.get()), std::vector<std::wstring>{L""});
  LONG number = 0;
  h->get_ErrNum(&number);
  CHECK_EQ(number, 7l);

  // The same call without the veto writes the log.
  vetoing.mode = Sink::Mode::Listen;
  push(h.get(), L"Again");
  CHECK_EQ(handle(h.get(), 7), 0);
  CHECK(folder.read() != "marker");
}

void failingAndDeafSinks() {
  Folder folder("events");
  folder.write("marker");
  Sink deaf(Sink::Mode::Deaf), raising(Sink::Mode::Raise), listener;
  auto h = handlerWritingTo(folder);
  if (!h) return;
  Connection first(h.get(), DIID___clsErrHandler, deaf), second(h.get(), DIID___clsErrHandler, raising),
      third(h.get(), DIID___clsErrHandler, listener);
  push(h.get(), L"Calc");
  CHECK_EQ(handle(h.get(), 5), 1234l);
  CHECK_EQ(folder.read(), std::string("marker"));
  CHECK_EQ(raising.heard, std::string("B"));
  CHECK_EQ(listener.heard, std::string());
  CHECK_EQ(callStack(h.get()), (std::vector<std::wstring>{L"", L"Calc"}));

  // Without the raising sink, the deaf one changes nothing.
  CHECK_EQ(second.point->Unadvise(second.cookie), S_OK);
  second.cookie = 0;
  CHECK_EQ(handle(h.get(), 5), 0);
  CHECK_EQ(listener.heard, std::string("BA"));
  CHECK_EQ(deaf.heard, std::string("xxx"));
  CHECK(folder.read().find("Division by zero") != std::string::npos);
  CHECK_EQ(callStack(h.get()), std::vector<std::wstring>{L""});
}

void classInformationAndEarlierInterface() {
  auto h = createHandler();
  if (!h) return;
  auto info = h.as<IProvideClassInfo2>(IID_IProvideClassInfo2);
  CHECK(info);
  if (info) {
    GUID source{};
    CHECK_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    CHECK_EQ(source, DIID___clsErrHandler);
    Ptr<ITypeInfo> type;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetClassInfo(type.put())) && SUCCEEDED(type->GetTypeAttr(&attr))) {
      CHECK_EQ(attr->guid, CLSID_clsErrHandler);
      CHECK_EQ(attr->typekind, TKIND_COCLASS);
      type->ReleaseTypeAttr(attr);
    } else {
      fail(__FILE__, __LINE__, "no class information");
    }
  }

  auto earlier = h.as<_clsErrHandler>(kEarlierInterface);
  CHECK(earlier);
  if (earlier) {
    CHECK_EQ(push(earlier.get(), L"ViaEarlier"), 0);
    CHECK_EQ(callStack(h.get()), (std::vector<std::wstring>{L"", L"ViaEarlier"}));
    CHECK_EQ(earlier.as<IUnknown>(IID_IUnknown).get(), h.as<IUnknown>(IID_IUnknown).get());
  }
}

}  // namespace

int main() {
  Apartment apartment;
  bothEventInterfacesHearEachHandlingOnce();
  vetoKeepsTheLogButNotifiesAndUnwinds();
  failingAndDeafSinks();
  classInformationAndEarlierInterface();
  return finish("events");
}
