// Lifetime as a host process sees it: reference counts, when the DLL agrees to be unloaded,
// memory over many objects, and threads and processes that used the handler still ending.

#include <ocidl.h>

#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "client_support.h"

using namespace client;

namespace {

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

// Runs `cycle` 1,000 times to warm up, then 10,000 times, and requires both private bytes and
// working set to grow by less than 128 KB over the 10,000. Warmed up, they grow by nothing; the
// slack is for the heap committing a few more pages. The smallest leak a cycle can make, one
// five-character BSTR, adds about 240 KB; a leaked object, megabytes.
template <class Cycle>
void staysFlat(const char* what, Cycle cycle) {
  for (int i = 0; i < 1000; ++i) cycle(i);
  const Memory before = memory();
  const DWORD start = GetTickCount();
  for (int i = 0; i < 10000; ++i) cycle(i);
  const Memory after = memory();
  const auto growth = [](SIZE_T a, SIZE_T b) { return static_cast<long>(b > a ? (b - a) / 1024 : 0); };
  std::printf("%s: 10000 cycles in %lu ms; private bytes +%ld KB, working set +%ld KB\n", what,
              GetTickCount() - start, growth(before.privateBytes, after.privateBytes),
              growth(before.workingSet, after.workingSet));
  CHECK(growth(before.privateBytes, after.privateBytes) < 128);
  CHECK(growth(before.workingSet, after.workingSet) < 128);
}

// Create, use, release: a few properties, the stack with a parameter, every SysObj member.
void handlerCycle(int i) {
  auto h = createHandler();
  if (!h) return;
  Bstr name(L"Cycle"), operation(L"Counting"), param(L"Index"), type(L"Long");
  BSTR p = name.get(), pn = param.get(), pt = type.get();
  LONG status = 0;
  Var value(static_cast<LONG>(i));
  h->put_CurrentOperation(operation.get());
  h->put_ShowSysInfo(VARIANT_TRUE);
  h->put_LogEvent(VARIANT_FALSE);
  h->Push(&p, &status);
  h->AddParam(&pn, &pt, &value);
  Var stack;
  h->get_CallStack(&stack);
  Bstr shown;
  h->ShowParam(shown.put());
  Ptr<_SysObj> sys;
  h->get_SysObject(sys.put());
  if (sys) {
    HRESULT(STDMETHODCALLTYPE _SysObj::*const members[])(BSTR*) = {
        &_SysObj::get_PlatForm, &_SysObj::get_OsVersion, &_SysObj::get_Build,
        &_SysObj::get_ServicePack, &_SysObj::get_Cpu, &_SysObj::get_TotalPhysicalMemory,
        &_SysObj::get_AvailablePhysicalMemory, &_SysObj::get_TotalVirtualMemory, &_SysObj::get_AvailableVirtualMemory};
    for (auto member : members) {
      Bstr fact;
      (sys.get()->*member)(fact.put());
    }
  }
  h->Pop(&status);
}

// One handler reporting again and again from a 50-deep stack with parameters, Error.log in a
// temporary folder; no dialog, no event log.
void handleErrorStaysFlat() {
  wchar_t temp[MAX_PATH] = L"", folder[MAX_PATH] = L"";
  GetTempPathW(MAX_PATH, temp);
  GetTempFileNameW(temp, L"qvl", 0, folder);
  DeleteFileW(folder);
  CreateDirectoryW(folder, nullptr);
  {
    auto h = createHandler();
    if (!h) return;
    Bstr destination(folder), desc(L"Subscript out of range"), param(L"Row"), type(L"Long");
    h->put_Destination(destination.get());
    h->put_LogEvent(VARIANT_FALSE);
    std::deque<Bstr> names;
    for (int d = 1; d <= 50; ++d) names.emplace_back((L"Procedure" + std::to_wstring(d)).c_str());
    staysFlat("HandleError, 50 deep", [&](int i) {
      LONG status = 0;
      for (int d = 0; d < 50; ++d) {
        BSTR p = names[d].get(), pn = param.get(), pt = type.get();
        Var value(static_cast<LONG>(d));
        h->Push(&p, &status);
        h->AddParam(&pn, &pt, &value);
      }
      CHECK(SUCCEEDED(h->HandleError(desc.get(), 9, i, nullptr, &status)) && status == 0);
    });
    Var stack;
    h->get_CallStack(&stack);
    CHECK(stack.vt == (VT_ARRAY | VT_VARIANT) && stack.parray->rgsabound[0].cElements == 1);
  }
  std::wstring log = std::wstring(folder) + L"\\Error.log";
  CHECK(DeleteFileW(log.c_str()));
  CHECK(RemoveDirectoryW(folder));
}

void memoryStaysFlat() {
  staysFlat("create, use, release", handlerCycle);
  handleErrorStaysFlat();
  CHECK_EQ(canUnloadNow(), S_OK);
  // Nothing alive: the host may unload the DLL at once, and does.
  CoFreeUnusedLibrariesEx(0, 0);
  CHECK(GetModuleHandleW(L"Quenvar.dll") == nullptr);
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
