// The DLL's entry points and its bookkeeping.

#include "module.h"

#include <atomic>
#include <mutex>

#include "class_factory.h"
#include "platform/win32/thread_state_win32.h"
#include "quenvar.h"

namespace quenvar::com {

namespace {
HINSTANCE g_instance = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

ITypeLib* typeLibrary() {
  static std::once_flag once;
  static ITypeLib* library = nullptr;
  std::call_once(once, [] {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(g_instance, path, static_cast<DWORD>(std::size(path)));
    if (n > 0 && n < std::size(path)) LoadTypeLibEx(path, REGKIND_NONE, &library);
  });
  return library;
}
}  // namespace

HINSTANCE moduleInstance() { return g_instance; }
void objectCreated() { ++g_objects; }
void objectDestroyed() { --g_objects; }
void lockServer(bool lock) { lock ? ++g_locks : --g_locks; }
bool canUnload() { return g_objects == 0 && g_locks == 0; }

ITypeInfo* typeInfoOf(REFGUID guid) {
  ITypeLib* library = typeLibrary();
  ITypeInfo* info = nullptr;
  if (!library || FAILED(library->GetTypeInfoOfGuid(guid, &info))) return nullptr;
  return info;
}

ITypeInfo* vtableTypeInfoOf(REFIID iid) {
  ITypeInfo* info = typeInfoOf(iid);
  if (!info) return nullptr;
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attr))) {
    const bool dispatchSide = attr->typekind == TKIND_DISPATCH;
    info->ReleaseTypeAttr(attr);
    if (dispatchSide) {
      HREFTYPE ref = 0;
      ITypeInfo* vtable = nullptr;
      if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
          SUCCEEDED(info->GetRefTypeInfo(ref, &vtable))) {
        info->Release();
        return vtable;
      }
    }
  }
  return info;
}

}  // namespace quenvar::com

using namespace quenvar::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: g_instance = instance; break;
    case DLL_THREAD_DETACH: quenvar::win32::releaseThreadState(); break;
    // Unloaded by FreeLibrary: free every thread's state. At process exit the other threads are
    // already gone and nothing needs freeing.
    case DLL_PROCESS_DETACH:
      if (!reserved) quenvar::win32::releaseAllThreadStates();
      break;
    default: break;
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return canUnload() ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IClassFactory* factory = classFactory(clsid);
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(iid, out);
}
