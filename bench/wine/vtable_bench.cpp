// A C++ client's Push+Pop through the vtable against a floor of two calls into the component that
// do nothing but keep a flag (LogEvent put + get), as Push+Pop is two calls. Batches alternate so
// drift falls on both alike.
// Prints a FIGURE line per target; exit status 1 when one is missed.

#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "bench_support.h"
#include "quenvar.h"

using bench::figure;
using bench::seconds;

int main() {
  CoInitialize(nullptr);
  _clsErrHandler* h = nullptr;
  if (FAILED(CoCreateInstance(CLSID_clsErrHandler, nullptr, CLSCTX_INPROC_SERVER, IID__clsErrHandler,
                              reinterpret_cast<void**>(&h)))) {
    std::puts("the component is not registered");
    return 2;
  }
  BSTR name = SysAllocString(L"PostInvoice");
  constexpr int kBatch = 2000, kRounds = 1000;
  double pushPop = 0, putGet = 0;
  LONG status = 0;
  VARIANT_BOOL flag = VARIANT_FALSE;
  for (int round = 0; round < kRounds; ++round) {
    const double t1 = seconds();
    for (int i = 0; i < kBatch; ++i) {
      h->Push(&name, &status);
      h->Pop(&status);
    }
    const double t2 = seconds();
    for (int i = 0; i < kBatch; ++i) {
      h->put_LogEvent(flag);
      h->get_LogEvent(&flag);
    }
    const double t3 = seconds();
    pushPop += t2 - t1;
    putGet += t3 - t2;
  }
  const double n = static_cast<double>(kBatch) * kRounds;
  std::printf("Push+Pop %.1f ns, LogEvent put+get %.1f ns\n", pushPop / n * 1e9, putGet / n * 1e9);
  const bool met = figure("wine_vtable_push_pop_vs_logevent_put_get_x", pushPop / putGet, 2.0);
  SysFreeString(name);
  h->Release();
  CoUninitialize();
  return met ? 0 : 1;
}
