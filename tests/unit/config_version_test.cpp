#include "tolvo/config/packaging/specifier.hpp"
#include "tolvo/config/packaging/version.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct NormCase
{
  std::string text;
  std::string normal;
};

class VersionNormalisation : public ::testing::TestWithParam<NormCase>
{};

TEST_P(VersionNormalisation, GivesNormalText)
{
  EXPECT_EQ(tolvo::config::Version(GetParam().text).str(), GetParam().normal);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionNormalisation,
                         ::testing::Values(NormCase{"1.0", "1.0"}, NormCase{"v1.0", "1.0"}, NormCase{" 1.0 ", "1.0"},
                                           NormCase{"01.002", "1.2"}, NormCase{"0!1.0", "1.0"},
                                           NormCase{"2!1.0", "2!1.0"}, NormCase{"1.0alpha1", "1.0a1"},
                                           NormCase{"1.0-a", "1.0a0"}, NormCase{"1.0.beta.2", "1.0b2"},
                                           NormCase{"1.0c1", "1.0rc1"}, NormCase{"1.0pre1", "1.0rc1"},
                                           NormCase{"1.0preview1", "1.0rc1"}, NormCase{"1.0RC1", "1.0rc1"},
                                           NormCase{"1.0-1", "1.0.post1"}, NormCase{"1.0rev", "1.0.post0"},
                                           NormCase{"1.0-r2", "1.0.post2"}, NormCase{"1.0_post_3", "1.0.post3"},
                                           NormCase{"1.0dev", "1.0.dev0"}, NormCase{"1.0-dev-2", "1.0.dev2"},
                                           NormCase{"1.0+Ubuntu-01_x", "1.0+ubuntu.1.x"},
                                           NormCase{"1.0a1.post2.dev3+l", "1.0a1.post2.dev3+l"}));

class InvalidVersion : public ::testing::TestWithParam<std::string>
{};

TEST_P(InvalidVersion, Throws)
{
  EXPECT_THROW(tolvo::config::Version{GetParam()}, tolvo::InvalidValue);
  EXPECT_FALSE(tolvo::config::Version::try_parse(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidVersion,
                         ::testing::Values("", "3.8.*", "1.", ".1", "1..0", "a1", "1.0+", "1.0+a..b", "1.0-", "1.0 a1",
                                           "!1.0", "1.0x", "1!"));

TEST(Version, InvalidMessageNamesText)
{
  try {
    tolvo::config::Version v("3.8.*");
    FAIL() << v.str();
  } catch (const tolvo::InvalidValue& e) {
    EXPECT_STREQ(e.what(), "Invalid version: '3.8.*'");
  }
}

// A crafted value of megabytes must not become a message of megabytes.
TEST(Version, InvalidMessagesQuoteAtMostTwoHundredCharacters)
{
  const std::string long_text = "1." + std::string(100'000, 'x');
  const std::string shown = long_text.substr(0, 200) + "...'";
  try {
    tolvo::config::Version v(long_text);
    FAIL() << "accepted";
  } catch (const tolvo::InvalidValue& e) {
    EXPECT_EQ(e.what(), "Invalid version: '" + shown);
  }
  try {
    tolvo::config::Specifier s(">=" + long_text);
    FAIL() << "accepted";
  } catch (const tolvo::InvalidValue& e) {
    EXPECT_EQ(e.what(), "Invalid specifier: '>=" + shown.substr(0, shown.size() - 6) + "...'");
  }
}

// Each version sorts strictly after the one before it.
TEST(Version, TotalOrder)
{
  const std::vector<std::string> ordered = {"1.0.dev0",
                                            "1.0a1.dev1",
                                            "1.0a1",
                                            "1.0a1.post1.dev1",
                                            "1.0a1.post1",
                                            "1.0a2",
                                            "1.0b1",
                                            "1.0rc1",
                                            "1.0",
                                            "1.0+abc",
                                            "1.0+abc.5",
                                            "1.0+1",
                                            "1.0+2",
                                            "1.0.post1.dev1",
                                            "1.0.post1",
                                            "1.0.post2",
                                            "1.1.dev1",
                                            "1.1",
                                            "1.10",
                                            "2",
                                            "99999999999999999999999",
                                            "1!0.1"};
  for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
    tolvo::config::Version a(ordered[i]);
    tolvo::config::Version b(ordered[i + 1]);
    EXPECT_LT(a, b) << ordered[i] << " < " << ordered[i + 1];
    EXPECT_GT(b, a) << ordered[i + 1] << " > " << ordered[i];
  }
}

TEST(Version, TrailingZerosAndSpellingsAreEqual)
{
  EXPECT_EQ(tolvo::config::Version("1.0"), tolvo::config::Version("1.0.0"));
  EXPECT_EQ(tolvo::config::Version("1"), tolvo::config::Version("v1.0.0.0"));
  EXPECT_EQ(tolvo::config::Version("1.0c1"), tolvo::config::Version("1.0rc1"));
  EXPECT_EQ(tolvo::config::Version("1.0-1"), tolvo::config::Version("1.0.post1"));
  EXPECT_NE(tolvo::config::Version("1.0+a"), tolvo::config::Version("1.0"));
  EXPECT_EQ(tolvo::config::Version("1.0").str(), "1.0");
  EXPECT_EQ(tolvo::config::Version("1.0.0").str(), "1.0.0");
}

TEST(Version, Properties)
{
  EXPECT_TRUE(tolvo::config::Version("1.0a1").is_prerelease());
  EXPECT_TRUE(tolvo::config::Version("1.0.dev1").is_prerelease());
  EXPECT_FALSE(tolvo::config::Version("1.0.post1").is_prerelease());
  EXPECT_TRUE(tolvo::config::Version("1.0.post1").is_postrelease());
  EXPECT_EQ(tolvo::config::Version("1!2.0rc1.post3+x").base_version(), "1!2.0");
  EXPECT_EQ(tolvo::config::Version("2.0rc1.post3+x").public_str(), "2.0rc1.post3");
}

} // namespace
