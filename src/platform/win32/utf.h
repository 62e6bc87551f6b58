#pragma once
// Text is UTF-8 inside the component; Windows speaks UTF-16, and files and the event log the
// ANSI code page. These convert at that edge. Malformed input becomes U+FFFD rather than failing,
// and a character the ANSI code page lacks becomes that code page's default character.

#include <string>
#include <string_view>

namespace quenvar::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
// UTF-8 to bytes in the process's ANSI code page.
std::string toAnsi(std::string_view utf8);
// Bytes in the ANSI code page, as older system calls return them, to UTF-8.
std::string fromAnsi(std::string_view ansi);

}  // namespace quenvar::win32
