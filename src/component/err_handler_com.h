#pragma once

#include <windows.h>

namespace quenvar::com {

// A new clsErrHandler for a client, answering `iid`.
HRESULT createErrHandler(REFIID iid, void** out);

}  // namespace quenvar::com
