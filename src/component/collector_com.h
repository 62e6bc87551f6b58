#pragma once

#include <windows.h>

namespace quenvar::com {

// A new Collector for a client, answering `iid`: a view of the process's collector settings.
HRESULT createCollector(REFIID iid, void** out);

}  // namespace quenvar::com
