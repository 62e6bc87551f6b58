#include "outlook_automation.h"

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include "quenvar/automation_error.h"
#include "dispatch_object.h"

namespace quenvar::com {

ObjectRef OutlookAutomation::create() {
  CLSID clsid{};
  IDispatch* dispatch = nullptr;
  if (FAILED(::CLSIDFromProgID(L"Outlook.Application", &clsid)) ||
      FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&dispatch))) ||
      !dispatch)
    throw AutomationError(err::kCantCreateObject, "ActiveX component can't create object");
  ObjectRef object = wrapDispatch(dispatch);  // holds its own reference
  dispatch->Release();
  return object;
}

}  // namespace quenvar::com
