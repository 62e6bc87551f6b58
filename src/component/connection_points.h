#pragma once
// Outgoing event interfaces. The connection points live inside their container and share its
// reference count, so neither keeps the other alive in a cycle.

#include <windows.h>
#include <ocidl.h>

#include <map>
#include <vector>

namespace quenvar::com {

class ConnectionPoint : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer& container, const IID& iid) : container_(container), iid_(iid) {}
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  const IID& iid() const { return iid_; }
  // The sinks at this moment, each AddRef'ed: an event may unadvise while it runs.
  std::vector<IDispatch*> sinks() const;

 private:
  IConnectionPointContainer& container_;
  IID iid_;
  std::map<DWORD, IDispatch*> sinks_;
  DWORD nextCookie_ = 1;
};

// An IEnumConnectionPoints over the container's points.
IEnumConnectionPoints* enumConnectionPoints(std::vector<IConnectionPoint*> points, size_t position = 0);

}  // namespace quenvar::com
