#pragma once
// The DLL as a whole: its instance, its live objects and locks, its type library.

#include <windows.h>
#include <oaidl.h>

namespace quenvar::com {

HINSTANCE moduleInstance();
// Live objects and server locks; the DLL may unload only when both are 0.
void objectCreated();
void objectDestroyed();
void lockServer(bool lock);
bool canUnload();

// The embedded type library's description of `guid` (AddRef'ed); nullptr when absent.
ITypeInfo* typeInfoOf(REFGUID guid);
// For a dual interface: the vtable side of its description.
ITypeInfo* vtableTypeInfoOf(REFIID iid);

}  // namespace quenvar::com
