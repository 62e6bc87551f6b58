// Reads an entry of the component as the event viewer does: the event source's registered
// message file, loaded as data, formats event 1003 with the entry's one insertion string. Each
// report text must come back exactly as written.
//
//   event_message.exe <the DLL the source must name>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kSource[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quenvar";
constexpr DWORD kHandledError = 1003;

int failures = 0;

void fail(const char* what, const std::wstring& detail = {}) {
  std::fwprintf(stderr, L"FAILED: %hs %ls\n", what, detail.c_str());
  ++failures;
}

std::wstring readSource(const wchar_t* name, DWORD kind) {
  std::vector<wchar_t> text(32768);
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSource, name, kind | RRF_NOEXPAND, nullptr, text.data(), &size) != ERROR_SUCCESS)
    return {};
  return text.data();
}

std::wstring format(HMODULE file, DWORD id, const std::wstring& insert) {
  const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(insert.c_str())};
  wchar_t* out = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                 file, id, 0, reinterpret_cast<wchar_t*>(&out), 0,
                                 reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
  std::wstring text = n ? std::wstring(out, n) : L"<no message " + std::to_wstring(GetLastError()) + L">";
  LocalFree(out);
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: event_message.exe <Quenvar.dll>\n");
    return 2;
  }
  const std::wstring named = readSource(L"EventMessageFile", RRF_RT_REG_EXPAND_SZ);
  if (_wcsicmp(named.c_str(), argv[1]) != 0) fail("the source's EventMessageFile is", named);
  wchar_t expanded[MAX_PATH * 2];
  if (!ExpandEnvironmentStringsW(named.c_str(), expanded, MAX_PATH * 2)) fail("expanding", named);

  DWORD types = 0, size = sizeof(types);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSource, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types, &size) != ERROR_SUCCESS ||
      !(types & EVENTLOG_ERROR_TYPE))
    fail("the source's TypesSupported lacks the error type");

  HMODULE file = LoadLibraryExW(expanded, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!file) {
    fail("loading the message file", expanded);
    return 1;
  }
  const std::wstring longText(31000, L'x');
  const struct {
    const char* name;
    std::wstring text;
  } reports[] = {
      {"an entry", L"Error from Quenvar\rApplication Error Information\r\n=====================\r\n\r\nError Number:\t61\r\n"},
      {"a vetoed first call", L"Error from Quenvar\r"},
      {"insertion marks in the report", L"50% done %1 %% %n %0 %!s! %2"},
      {"text outside ASCII", L"\x00dc" L"berweisung fehlgeschlagen \x2013 5 \x20ac"},
      {"the longest insertion string", longText},
  };
  for (const auto& report : reports) {
    const std::wstring shown = format(file, kHandledError, report.text);
    if (shown != report.text) fail(report.name, L"reads [" + shown.substr(0, 200) + L"]");
  }
  FreeLibrary(file);
  if (failures == 0) std::wprintf(L"event message: OK\n");
  return failures == 0 ? 0 : 1;
}
