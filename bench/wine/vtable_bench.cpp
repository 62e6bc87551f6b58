// A C++ client's Push+Pop through the vtable against the floor of any call into the
// component: reading LogEvent, a plain field. Batches alternate so drift falls on both alike.
// Prints the ratio and its target; exit status 1 when the target is missed.

#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "quenvar.h"

namespace {

double seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  _clsErrHandler* h = nullptr;
  if (FAILED(CoCreateInstance(CLSID_clsErrHandler, nullptr, CLSCTX_INPROC_SERVER, IID__clsErrHandler,
                              reinterpret_cast<void**>(&h)))) {
    std::puts("the component is not registered");
    return 2;
  }
  BSTR name = SysAllocString(L"PostInvoice");
  constexpr int kBatch = 2000, kRounds = 100;
  double pushPop = 0, floor = 0;
  LONG status = 0;
  VARIANT_BOOL flag = VARIANT_FALSE;
  for (int round = 0; round < kRounds; ++round) {
    double t0 = seconds();
    for (int i = 0; i < kBatch; ++i) h->get_LogEvent(&flag);
    double t1 = seconds();
    for (int i = 0; i < kBatch; ++i) {
      h->Push(&name, &status);
      h->Pop(&status);
    }
    double t2 = seconds();
    floor += t1 - t0;
    pushPop += t2 - t1;
  }
  const double n = static_cast<double>(kBatch) * kRounds;
  const double ratio = pushPop / floor;
  std::printf("%-58s %8.2fx %6.2fx  %s   (%.1f ns vs %.1f ns)\n", "C++ client Push+Pop / LogEvent read, vtable", ratio,
              3.0, ratio <= 3.0 ? "yes" : "NO", pushPop / n * 1e9, floor / n * 1e9);
  SysFreeString(name);
  h->Release();
  CoUninitialize();
  return ratio <= 3.0 ? 0 : 1;
}
