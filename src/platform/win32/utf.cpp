#include "platform/win32/utf.h"

#include <climits>

#include "quenvar/automation_error.h"
#include "core/text.h"
#include "platform/win32/windows_api.h"

namespace quenvar::win32 {

namespace {

// The conversion calls count in int.
int checkedLength(size_t length) {
  if (length > static_cast<size_t>(INT_MAX)) raiseOverflow();
  return static_cast<int>(length);
}

std::wstring toWide(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int length = checkedLength(text.size());
  const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) raiseOverflow();
  std::wstring out(static_cast<size_t>(needed), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), needed);
  return out;
}

std::string fromWide(std::wstring_view wide, UINT codePage) {
  if (wide.empty()) return {};
  const int length = checkedLength(wide.size());
  const int needed = ::WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) raiseOverflow();
  std::string out(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(codePage, 0, wide.data(), length, out.data(), needed, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring widen(std::string_view utf8) { return toWide(utf8, CP_UTF8); }
std::string narrow(std::wstring_view utf16) {
  return utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
}
std::string toAnsi(std::string_view utf8) { return fromWide(widen(utf8), CP_ACP); }
std::string fromAnsi(std::string_view ansi) { return narrow(toWide(ansi, CP_ACP)); }

}  // namespace quenvar::win32
