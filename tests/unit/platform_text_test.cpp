#include "tolvo/platform/text.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Utf8Case
{
  std::string text;
  bool valid;
};

class IsUtf8 : public ::testing::TestWithParam<Utf8Case>
{};

TEST_P(IsUtf8, AcceptsOnlyWellFormedText)
{
  EXPECT_EQ(tolvo::platform::is_utf8(GetParam().text), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Cases, IsUtf8,
                         ::testing::Values(Utf8Case{"", true}, Utf8Case{std::string("a\0b", 3), true},
                                           Utf8Case{"caf\xc3\xa9", true}, Utf8Case{"\xe2\x80\x94\xed\x9f\xbf", true},
                                           Utf8Case{"\xf0\x9f\x90\x8d\xf4\x8f\xbf\xbf", true},
                                           Utf8Case{"caf\xe9", false}, Utf8Case{"\xc3", false}, Utf8Case{"\x80", false},
                                           Utf8Case{"\xc0\xaf", false}, Utf8Case{"\xe0\x80\xaf", false},
                                           Utf8Case{"\xf0\x80\x80\xaf", false}, Utf8Case{"\xed\xa0\x80", false},
                                           Utf8Case{"\xf4\x90\x80\x80", false}, Utf8Case{"\xe2\x28\xa1", false},
                                           Utf8Case{"\xff", false}));

TEST(Abbreviate, CutsAfterTheGivenNumberOfCharacters)
{
  using tolvo::platform::abbreviate;
  EXPECT_EQ(abbreviate("", 0), "");
  EXPECT_EQ(abbreviate("abc", 3), "abc");
  EXPECT_EQ(abbreviate("abcd", 3), "abc...");
  EXPECT_EQ(abbreviate("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9...");
}

} // namespace
