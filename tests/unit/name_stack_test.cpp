#include "quenvar/detail/name_stack.h"

#include <gtest/gtest.h>

namespace quenvar {
namespace {

std::vector<std::string> names(const NameStack& s) { return {s.begin(), s.end()}; }

// Entries cut off keep their text out of sight: a new name of the same length must replace it
// whole, and entries brought back by growing must read empty.
TEST(NameStack, ReusedEntriesNeverShowEarlierText) {
  NameStack s(1);
  s.push("Alpha");
  s.push("Bravo");
  s.resize(1);
  s.push("Delta");
  s.push("Al");
  EXPECT_EQ(names(s), (std::vector<std::string>{"", "Delta", "Al"}));
  s.resize(1);
  s.resize(3);
  EXPECT_EQ(names(s), (std::vector<std::string>{"", "", ""}));
}

TEST(NameStack, ADeepStackThatComesBackReleasesItsEntries) {
  NameStack s(1);
  for (int i = 0; i < 100'000; ++i) s.push("ProcedureName" + std::to_string(i));
  // As Pop goes back: in place where that gives nothing back, else by resizing.
  while (s.size() > 1) {
    if (s.canPopInPlace())
      s.popInPlace();
    else
      s.resize(s.size() - 1);
  }
  EXPECT_LE(s.held(), 8192u);
  s.push("Main");
  EXPECT_EQ(names(s), (std::vector<std::string>{"", "Main"}));
  for (size_t i = 2; i < 5000; ++i) s.resize(i);
  EXPECT_EQ(s[4000], "") << "storage given back and grown again reads empty";
}

// Every length through the vector paths and the walk between them, with one character past
// ASCII at each place in turn: the answer is false whatever the place, an ASCII name arrives
// whole, and nothing is written past its end.
TEST(NameStack, NarrowingSeesEveryCharacterAndWritesOnlyTheName) {
  for (size_t n = 0; n <= 41; ++n) {
    std::u16string name(n, u'a');
    for (size_t i = 0; i < n; ++i) name[i] = static_cast<char16_t>(u'A' + i % 26);
    std::string out(n + 8, '#');
    EXPECT_TRUE(narrowAscii(out.data(), name.data(), n)) << n;
    EXPECT_EQ(out, std::string(name.begin(), name.end()) + "########") << n;
    for (size_t at = 0; at < n; ++at) {
      for (char16_t wide : {u'\x80', u'\x100', u'\xFF80', u'\xD800'}) {
        std::u16string other = name;
        other[at] = wide;
        EXPECT_FALSE(narrowAscii(out.data(), other.data(), n)) << n << " at " << at;
        EXPECT_EQ(out.substr(n), "########") << n;
      }
    }
  }
}

}  // namespace
}  // namespace quenvar
