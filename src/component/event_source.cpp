#include "event_source.h"

#include <wchar.h>

#include "core/component.h"
#include "event_messages.h"
#include "platform/win32/utf.h"

namespace quenvar::com {

static_assert(QUENVAR_EVENT_HANDLED_ERROR == kHandledErrorEventId,
              "the message table must hold the event a handled error writes");

namespace {

std::wstring sourceKey() {
  return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + win32::widen(kComponentTitle);
}

constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

HRESULT setMessageFile(HKEY key, const std::wstring& dll) {
  return HRESULT_FROM_WIN32(RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                                           reinterpret_cast<const BYTE*>(dll.c_str()),
                                           static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))));
}

std::wstring messageFile(HKEY key) {
  wchar_t text[MAX_PATH * 2] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"EventMessageFile", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
    return {};
  return text;
}

}  // namespace

HRESULT registerEventSource(const std::wstring& dll) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, sourceKey().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  HRESULT hr = setMessageFile(key, dll);
  if (SUCCEEDED(hr))
    hr = HRESULT_FROM_WIN32(RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&kTypesSupported), sizeof(kTypesSupported)));
  RegCloseKey(key);
  return hr;
}

HRESULT unregisterEventSource(const std::wstring& dll, const std::wstring& otherDll) {
  HKEY key = nullptr;
  LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, sourceKey().c_str(), 0, KEY_READ | KEY_WRITE, &key);
  if (r == ERROR_FILE_NOT_FOUND) return S_OK;
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  // Another copy of the component registered since: the source is that one's now.
  const bool ours = _wcsicmp(messageFile(key).c_str(), dll.c_str()) == 0;
  HRESULT hr = S_OK;
  if (ours && !otherDll.empty()) hr = setMessageFile(key, otherDll);
  RegCloseKey(key);
  if (ours && otherDll.empty()) {
    r = RegDeleteTreeW(HKEY_LOCAL_MACHINE, sourceKey().c_str());
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) hr = HRESULT_FROM_WIN32(r);
  }
  return hr;
}

}  // namespace quenvar::com
