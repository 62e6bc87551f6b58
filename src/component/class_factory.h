#pragma once

#include <windows.h>
#include <unknwn.h>

namespace quenvar::com {

// The class factory of clsErrHandler: one static instance, alive with the DLL.
IClassFactory& errHandlerFactory();

}  // namespace quenvar::com
