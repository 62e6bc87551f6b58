#include "connection_points.h"

#include <olectl.h>

#include <algorithm>
#include <atomic>

#include "module.h"

namespace quenvar::com {

namespace {

// A snapshot enumerator of AddRef'ed items, for both enumerator interfaces.
template <class Interface, class Item, const IID* Iid>
class Enumerator : public Interface {
 public:
  explicit Enumerator(std::vector<Item> items, size_t position = 0) : items_(std::move(items)), position_(position) {
    objectCreated();
    for (Item& item : items_) unknownOf(item)->AddRef();
  }
  virtual ~Enumerator() {
    for (Item& item : items_) unknownOf(item)->Release();
    objectDestroyed();
  }
  Enumerator(const Enumerator&) = delete;
  Enumerator& operator=(const Enumerator&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = (iid == IID_IUnknown || iid == *Iid) ? static_cast<Interface*>(this) : nullptr;
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
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < items_.size(); ++n, ++position_) {
      out[n] = items_[position_];
      unknownOf(out[n])->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ = std::min<size_t>(items_.size(), position_ + count);
    return position_ < items_.size() || count == 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** out) override {
    if (!out) return E_POINTER;
    *out = new Enumerator(items_, position_);
    return S_OK;
  }

 private:
  static IUnknown* unknownOf(const CONNECTDATA& c) { return c.pUnk; }
  static IUnknown* unknownOf(IConnectionPoint* p) { return p; }

  std::vector<Item> items_;
  size_t position_;
  std::atomic<ULONG> refs_{1};
};

using ConnectionsEnumerator = Enumerator<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>;
using PointsEnumerator = Enumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>;

}  // namespace

ConnectionPoint::~ConnectionPoint() {
  for (auto& [cookie, sink] : sinks_) sink->Release();
}

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = (iid == IID_IUnknown || iid == IID_IConnectionPoint) ? static_cast<IConnectionPoint*>(this) : nullptr;
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  container_.AddRef();
  *out = &container_;
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  IDispatch* dispatch = nullptr;
  // A sink may claim success and give no interface.
  if ((FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&dispatch))) || !dispatch) &&
      (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch))
    return CONNECT_E_CANNOTCONNECT;
  *cookie = nextCookie_++;
  sinks_.emplace(*cookie, dispatch);
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  auto it = sinks_.find(cookie);
  if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
  IDispatch* sink = it->second;
  sinks_.erase(it);
  sink->Release();
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  std::vector<CONNECTDATA> items;
  for (auto& [cookie, sink] : sinks_) items.push_back(CONNECTDATA{sink, cookie});
  *out = new ConnectionsEnumerator(std::move(items));
  return S_OK;
}

std::vector<IDispatch*> ConnectionPoint::sinks() const {
  std::vector<IDispatch*> out;
  for (auto& [cookie, sink] : sinks_) {
    sink->AddRef();
    out.push_back(sink);
  }
  return out;
}

IEnumConnectionPoints* enumConnectionPoints(std::vector<IConnectionPoint*> points, size_t position) {
  return new PointsEnumerator(std::move(points), position);
}

}  // namespace quenvar::com
