#pragma once

#include <windows.h>

namespace quenvar::com {

// A new MailSettings for a client, answering `iid`.
HRESULT createMailSettings(REFIID iid, void** out);

}  // namespace quenvar::com
