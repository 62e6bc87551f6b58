#pragma once
// IDispatch::Invoke driven by the interface's type information, with the arguments coerced
// here: the system's typeinfo invoke refuses a script variable passed to a by-reference
// string parameter, which script clients do all the time.

#include <windows.h>
#include <oaidl.h>

namespace quenvar::com {

// `typeInfo` describes the vtable interface (TKIND_INTERFACE) that `self` points to.
HRESULT invokeByTypeInfo(ITypeInfo* typeInfo, void* self, DISPID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError);

}  // namespace quenvar::com
