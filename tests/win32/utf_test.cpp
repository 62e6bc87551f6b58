#include "platform/win32/utf.h"

#include <gtest/gtest.h>

#include "win32_test_support.h"

namespace quenvar {
namespace {

TEST(Utf, RoundTripsEveryPlaneAndEmbeddedZeros) {
  const std::string text("A\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\0z", 12);  // A é € 𝄞 NUL z
  const std::wstring wide = win32::widen(text);
  EXPECT_EQ(wide, std::wstring(L"A\u00E9\u20AC\xD834\xDD1E\0z", 7));
  EXPECT_EQ(win32::narrow(wide), text);
  EXPECT_EQ(win32::widen(""), L"");
  EXPECT_EQ(win32::narrow(L""), "");
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(win32::widen("a\xFF" "b"), L"a\uFFFDb");
  EXPECT_EQ(win32::narrow(std::wstring(L"x\xD800y")), "x\xEF\xBF\xBDy");
}

TEST(Utf, AnsiBytesFollowTheProcessCodePage) {
  const UINT codePage = ::GetACP();
  std::cout << "ANSI code page: " << codePage << "\n";
  const std::string text = "caf\xC3\xA9 \xE2\x82\xAC";
  EXPECT_EQ(win32::toAnsi(text), testing::ansiBytesOf(text));
  EXPECT_EQ(win32::fromAnsi(win32::toAnsi("plain ASCII")), "plain ASCII");
  if (codePage == 1252) {
    EXPECT_EQ(win32::toAnsi(text), "caf\xE9 \x80");
    EXPECT_EQ(win32::fromAnsi("caf\xE9 \x80"), text);
    // Beyond the code page: its default character.
    EXPECT_EQ(win32::toAnsi("\xE4\xB8\xAD"), "?");
  }
}

}  // namespace
}  // namespace quenvar
