// AddParam of a client's large byte array (a picture or document column): the memory the host
// gains while the component takes it, against the array's own size, and the time for a 100 MB
// array against a 10 MB one, alternating in one run. Prints a FIGURE line per target; exit
// status 1 when one is missed.

#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include <cstdio>
#include <initializer_list>

#include "bench_support.h"
#include "quenvar.h"

using bench::figure;
using bench::seconds;

namespace {

PROCESS_MEMORY_COUNTERS_EX memory() {
  PROCESS_MEMORY_COUNTERS_EX m{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
  return m;
}

struct ByteArray {
  VARIANT v;
  explicit ByteArray(ULONG bytes) {
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, bytes);
    void* data = nullptr;
    // Touched, so the pages are the client's and not the component's when it reads them.
    if (v.parray && SUCCEEDED(SafeArrayAccessData(v.parray, &data))) {
      FillMemory(data, bytes, 0x5A);
      SafeArrayUnaccessData(v.parray);
    }
  }
  ~ByteArray() { VariantClear(&v); }
};

// Push, AddParam of the array, Pop: the seconds one round takes.
double addParam(_clsErrHandler* h, VARIANT& value, BSTR proc, BSTR name, BSTR type) {
  LONG status = 0;
  const double t0 = seconds();
  h->Push(&proc, &status);
  const HRESULT hr = h->AddParam(&name, &type, &value);
  h->Pop(&status);
  const double t1 = seconds();
  if (FAILED(hr)) {
    std::printf("AddParam failed: 0x%08lx\n", static_cast<unsigned long>(hr));
    return -1;
  }
  return t1 - t0;
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
  BSTR proc = SysAllocString(L"SavePicture"), name = SysAllocString(L"Picture"), type = SysAllocString(L"Byte()");
  bool ok = true;
  for (ULONG megabytes : {10u, 100u}) {
    ByteArray array(megabytes << 20);
    if (!array.v.parray) {
      std::puts("the client could not allocate its array");
      return 2;
    }
    // The peak is monotonic and the client's array is in use already: anything the component
    // touches beyond what is resident now raises it.
    const SIZE_T before = memory().WorkingSetSize;
    if (addParam(h, array.v, proc, name, type) < 0) ok = false;
    const SIZE_T peak = memory().PeakWorkingSetSize;
    const double addedPercent = peak > before ? 100.0 * static_cast<double>(peak - before) / (megabytes << 20) : 0;
    char row[96];
    std::snprintf(row, sizeof row, "wine_addparam_%lumb_byte_array_peak_memory_percent_of_array", megabytes);
    ok &= figure(row, addedPercent, 1.0, true);
  }

  ByteArray small(10u << 20), large(100u << 20);
  constexpr int kRounds = 200;
  double smallTime = 0, largeTime = 0;
  for (int round = 0; round < kRounds; ++round) {
    smallTime += addParam(h, small.v, proc, name, type);
    largeTime += addParam(h, large.v, proc, name, type);
  }
  std::printf("AddParam round: 10 MB %.2f us, 100 MB %.2f us\n", 1e6 * smallTime / kRounds, 1e6 * largeTime / kRounds);
  ok &= figure("wine_addparam_100mb_vs_10mb_byte_array_time_x", largeTime / smallTime, 1.5);

  SysFreeString(proc), SysFreeString(name), SysFreeString(type);
  h->Release();
  CoUninitialize();
  return ok ? 0 : 1;
}
