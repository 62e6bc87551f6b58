#pragma once
// The client's IDispatch objects as the logic's Object: members by name, default member
// through DISPID_VALUE.

#include <windows.h>
#include <oaidl.h>

#include "quenvar/object.h"

namespace quenvar::com {

ObjectRef wrapDispatch(IDispatch* dispatch);
// The IDispatch behind an Object made by wrapDispatch, else nullptr (not AddRef'ed).
IDispatch* dispatchOf(Object& object);

}  // namespace quenvar::com
