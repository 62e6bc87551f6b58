// Lifetime as a host process sees it: reference counts, when the DLL agrees to be unloaded,
// memory over many objects, and threads and processes that used the handler still ending.

#include <ocidl.h>
#include <psapi.h>

#include <cstring>
#include <thread>

#include "client_support.h"

using namespace client;

namespace {

HRESULT canUnloadNow() {
  HMODULE dll = GetModuleHandleW(L"Quenvar.dll");
  FARPROC f = dll ? GetProcAddress(dll, "DllCanUnloadNow") : nullptr;
  if (!f) {
    fail(__FILE__, __LINE__, "Quenvar.dll is not loaded or lacks DllCanUnloadNow");
    return E_FAIL;
  }
  return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(f))();
}

void referenceCountsAndIdentity() {
  CLSID clsid{};
  CHECK_EQ(CLSIDFromProgID(L"Quenvar.clsErrHandler", &clsid), S_OK);
  CHECK_EQ(clsid, CLSID_clsErrHandler);
  Ptr<IDispatch> d;
  CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.putVoid()), S_OK);
  if (!d) return;
  CHECK_EQ(d->AddRef(), 2ul);
  CHECK_EQ(d->Release(), 1ul);
  auto h = d.as<_clsErrHandler>(IID__clsErrHandler);
  CHECK_EQ(h->AddRef(), 3ul);
  CHECK_EQ(h->Release(), 2ul);

  Ptr<_SysObj> first, second;
  CHECK_EQ(h->get_SysObject(first.put()), S_OK);
  CHECK_EQ(h->get_SysObject(second.put()), S_OK);
  CHECK(first && first.get() == second.get());
  if (!first) return;
  CHECK_EQ(first->AddRef(), 4ul);  // the handler's, two reads, this one
  first->Release();

  // The system object outlives its handler.
  d.reset();
  h.reset();
  second.reset();
  Bstr platform;
  CHECK(SUCCEEDED(first->get_PlatForm(platform.put())) && !platform.str().empty());
  CHECK_EQ(first->AddRef(), 2ul);
  first->Release();
}

void unloadOnlyWhenNothingIsAlive() {
  auto h = createHandler();
  if (!h) return;
  CHECK_EQ(canUnloadNow(), S_FALSE);
  h.reset();
  CHECK_EQ(canUnloadNow(), S_OK);

  h = createHandler();
  Ptr<_SysObj> sys;
  h->get_SysObject(sys.put());
  h.reset();
  CHECK_EQ(canUnloadNow(), S_FALSE);
  sys.reset();
  CHECK_EQ(canUnloadNow(), S_OK);

  // An enumerator of no connections holds nothing but itself.
  h = createHandler();
  Ptr<IConnectionPoint> point;
  Ptr<IEnumConnections> connections;
  h.as<IConnectionPointContainer>(IID_IConnectionPointContainer)->FindConnectionPoint(DIID___clsErrHandler, point.put());
  CHECK(point && SUCCEEDED(point->EnumConnections(connections.put())));
  point.reset();
  h.reset();
  CHECK_EQ(canUnloadNow(), S_FALSE);
  connections.reset();
  CHECK_EQ(canUnloadNow(), S_OK);

  Ptr<IClassFactory> factory;
  CHECK_EQ(CoGetClassObject(CLSID_clsErrHandler, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()), S_OK);
  if (!factory) return;
  CHECK_EQ(canUnloadNow(), S_FALSE);
  CHECK_EQ(factory->CreateInstance(nullptr, IID__clsErrHandler, h.putVoid()), S_OK);
  h.reset();
  CHECK_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  CHECK_EQ(canUnloadNow(), S_FALSE);
  CoGetClassObject(CLSID_clsErrHandler, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid());
  CHECK_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  CHECK_EQ(canUnloadNow(), S_OK);
}

SIZE_T privateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PagefileUsage;
}

void cycles(int count) {
  for (int i = 0; i < count; ++i) {
    auto h = createHandler();
    if (!h) return;
    Bstr name(L"Cycle"), operation(L"Counting");
    BSTR p = name.get();
    LONG status = 0;
    h->Push(&p, &status);
    h->put_CurrentOperation(operation.get());
    Var stack;
    h->get_CallStack(&stack);
    Ptr<_SysObj> sys;
    h->get_SysObject(sys.put());
    h->Pop(&status);
  }
}

void memoryStaysFlat() {
  cycles(500);
  const SIZE_T before = privateBytes();
  const DWORD start = GetTickCount();
  cycles(10000);
  const SIZE_T growth = privateBytes() > before ? privateBytes() - before : 0;
  std::printf("10000 cycles: %lu ms, %lu KB more private memory\n", GetTickCount() - start,
              static_cast<unsigned long>(growth / 1024));
  // About 64 bytes a cycle of slack; one leaked handler a cycle adds some 7 MB.
  CHECK(growth < 640 * 1024);
  CHECK_EQ(canUnloadNow(), S_OK);
}

// A worker thread in its own apartment uses a handler and ends; its end must not stop the thread or,
// later, the process. Run in a child process with a deadline: the failure is one that never ends.
int child(const char* scenario) {
  Apartment apartment;
  // With a handler made on the main thread first, the DLL outlives the worker until the process ends;
  // otherwise the worker's apartment unloads it.
  if (std::strcmp(scenario, "process-exit") == 0) createHandler();
  std::thread([] {
    Apartment own;
    auto h = createHandler();
    Bstr name(L"Worker");
    BSTR p = name.get();
    LONG status = 0;
    if (h) h->Push(&p, &status);
  }).join();
  return 0;
}

void threadsAndProcessesEnd() {
  char self[MAX_PATH * 2] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  for (const char* scenario : {"thread-unloads", "process-exit"}) {
    std::string command = std::string("\"") + self + "\" " + scenario;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      fail(__FILE__, __LINE__, "cannot start " + command);
      continue;
    }
    if (WaitForSingleObject(pi.hProcess, 15000) == WAIT_TIMEOUT) {
      fail(__FILE__, __LINE__, std::string("the process never ended: ") + scenario);
      TerminateProcess(pi.hProcess, 99);
    } else {
      DWORD code = 1;
      GetExitCodeProcess(pi.hProcess, &code);
      CHECK_EQ(code, 0ul);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) return child(argv[1]);
  {
    Apartment apartment;
    referenceCountsAndIdentity();
    unloadOnlyWhenNothingIsAlive();
    memoryStaysFlat();
  }
  threadsAndProcessesEnd();
  return finish("lifetime");
}
