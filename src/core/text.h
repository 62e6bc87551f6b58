#pragma once
// Text is UTF-8 inside the component; these are the few operations the logic needs on it.

#include <string>
#include <string_view>

namespace quenvar {

inline constexpr std::string_view kCrLf = "\r\n";

// ASCII letter case folding: member names and the platform test compare this way.
std::string toUpperAscii(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool containsIgnoreCase(std::string_view haystack, std::string_view needle);

// One code point; a value beyond Unicode adds nothing.
void appendUtf8(std::string& out, char32_t c);
// UTF-16 as automation clients hold text; an unpaired surrogate becomes U+FFFD, as the system's
// own conversion gives it.
std::string utf8FromUtf16(std::u16string_view text);

std::string_view trimBlanks(std::string_view s);
std::string_view trimTrailingBlanks(std::string_view s);

}  // namespace quenvar
