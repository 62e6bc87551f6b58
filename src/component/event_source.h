#pragma once
// The event source a machine-wide registration writes, so that the event log renders the
// component's entries through the message table in the DLL.

#include <windows.h>

#include <string>

namespace quenvar::com {

// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source>: EventMessageFile names
// `dll`, TypesSupported the error, warning and information types.
HRESULT registerEventSource(const std::wstring& dll);

// Removes the source when it names `dll`. When the other architecture's DLL is still registered
// (`otherDll`), the source goes on naming that one instead, as the key is shared by both.
HRESULT unregisterEventSource(const std::wstring& dll, const std::wstring& otherDll);

}  // namespace quenvar::com
