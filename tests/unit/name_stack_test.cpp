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
  for (size_t size = 100'000; size > 1; --size) s.resize(size - 1);
  EXPECT_LE(s.held(), 8192u);
  s.push("Main");
  EXPECT_EQ(names(s), (std::vector<std::string>{"", "Main"}));
  for (size_t i = 2; i < 5000; ++i) s.resize(i);
  EXPECT_EQ(s[4000], "") << "storage given back and grown again reads empty";
}

}  // namespace
}  // namespace quenvar
