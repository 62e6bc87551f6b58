#pragma once

#include <windows.h>
#include <unknwn.h>

namespace quenvar::com {

// The class factory of a creatable class: one static instance each, alive with the DLL; nullptr
// for any other class id.
IClassFactory* classFactory(REFCLSID clsid);

}  // namespace quenvar::com
