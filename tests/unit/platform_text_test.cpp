#include "tolvo/platform/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Abbreviate, CutsAfterTheGivenNumberOfCharacters)
{
  using tolvo::platform::abbreviate;
  EXPECT_EQ(abbreviate("", 0), "");
  EXPECT_EQ(abbreviate("abc", 3), "abc");
  EXPECT_EQ(abbreviate("abcd", 3), "abc...");
  EXPECT_EQ(abbreviate("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9...");
}

} // namespace
