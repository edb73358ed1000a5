#include "tolvo/config/packaging/specifier.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class ValidSpecifier : public ::testing::TestWithParam<std::string>
{};

TEST_P(ValidSpecifier, Parses)
{
  EXPECT_NO_THROW(tolvo::config::Specifier{GetParam()});
}

INSTANTIATE_TEST_SUITE_P(Table, ValidSpecifier,
                         ::testing::Values("==1.0", "== 1.0", "==1.0.*", "!=1.*", "==1.0+local", "!=1.0+local", "~=1.0",
                                           "~=1.0a1", ">=1!2.0", "<2.0.dev1", "===foo-bar", "===1.0+x", ">v1.0.post1"));

class InvalidSpecifier : public ::testing::TestWithParam<std::string>
{};

TEST_P(InvalidSpecifier, Throws)
{
  EXPECT_THROW(tolvo::config::Specifier{GetParam()}, tolvo::InvalidValue);
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidSpecifier,
                         ::testing::Values("1.0", "=1.0", ">=1.0.*", "~=1.*", "~=1", "<1.0+local", "~=1.0+l",
                                           "==1.0a1.*", "==1.*.0", ">=", ">=foo", "=== a b", "==1.0 .*"));

TEST(Specifier, KeepsTextAsWrittenAndMessageNamesIt)
{
  tolvo::config::Specifier s("  >=  v1.0.0 ");
  EXPECT_EQ(s.op(), ">=");
  EXPECT_EQ(s.version(), "v1.0.0");
  try {
    tolvo::config::Specifier bad(">=1.0.*");
    FAIL() << bad.str();
  } catch (const tolvo::InvalidValue& e) {
    EXPECT_STREQ(e.what(), "Invalid specifier: '>=1.0.*'");
  }
}

TEST(SpecifierSet, IteratesInWrittenOrderAndSkipsEmptyParts)
{
  tolvo::config::SpecifierSet set(" >=1.0 , ,<2, !=1.5");
  std::vector<std::string> texts;
  for (const auto& s : set) {
    texts.push_back(s.str());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{">=1.0", "<2", "!=1.5"}));
  EXPECT_EQ(set.str(), "!=1.5,<2,>=1.0");
  EXPECT_TRUE(tolvo::config::SpecifierSet("").empty());
  EXPECT_THROW(tolvo::config::SpecifierSet(">=1.0,foo"), tolvo::InvalidValue);
}

struct ContainsCase
{
  std::string spec;
  std::string version;
  bool expected;
};

class SpecifierContains : public ::testing::TestWithParam<ContainsCase>
{};

TEST_P(SpecifierContains, MatchesPep440)
{
  const auto& c = GetParam();
  EXPECT_EQ(tolvo::config::SpecifierSet(c.spec).contains(tolvo::config::Version(c.version)), c.expected)
    << c.spec << " " << c.version;
}

INSTANTIATE_TEST_SUITE_P(
  Table, SpecifierContains,
  ::testing::Values(
    ContainsCase{"==1.0", "1.0.0", true}, ContainsCase{"==1.0", "1.0+local", true},
    ContainsCase{"==1.0+a", "1.0", false}, ContainsCase{"==1.*", "1.9.post1", true}, ContainsCase{"==1.0.*", "1", true},
    ContainsCase{"==1.1.*", "1.10", false}, ContainsCase{"!=1.*", "2.0", true}, ContainsCase{"~=2.2", "2.9", true},
    ContainsCase{"~=2.2", "3.0", false}, ContainsCase{"~=2.2.1", "2.3", false}, ContainsCase{"~=2.2.1", "2.2.5", true},
    ContainsCase{"<2.0", "2.0a1", false}, ContainsCase{"<2.0", "1.9", true}, ContainsCase{">1.0", "1.0.post1", false},
    ContainsCase{">1.0", "1.0+l", false}, ContainsCase{">1.0", "1.1", true}, ContainsCase{">=1.0", "1.0+l", true},
    ContainsCase{"<=1.0", "1.0+l", true}, ContainsCase{"===1.0", "1.0", true}, ContainsCase{"===1.0", "1.0.0", false},
    ContainsCase{">=1.0,<2", "1.5", true}, ContainsCase{">=1.0,<2", "2.5", false}, ContainsCase{">=1.0", "2.0a1", true},
    ContainsCase{"", "2.0a1", true},
    // Neighbours of the bound's base release: refused by pip up to 25, so
    // refused here whatever a later pip admits.
    ContainsCase{">1.0rc1", "1.0.post1", false}, ContainsCase{">1.0rc1", "1.0+local", false},
    ContainsCase{"<1.0.post1", "1.0rc1", false}, ContainsCase{">1.0.post0", "1.0.post1+l", false},
    ContainsCase{">1.0rc1", "1.0", true}, ContainsCase{">1.0rc1", "1.0rc2", true},
    ContainsCase{">1.0.post0", "1.0.post1", true}, ContainsCase{"<1.0.post1", "1.0", true}));

struct PrereleaseCase
{
  std::string spec;
  std::string version;
  bool admitted; // contains(v, true)
  bool refused;  // contains(v, false)
};

class PrereleaseRule : public ::testing::TestWithParam<PrereleaseCase>
{};

TEST_P(PrereleaseRule, AdmittedOnlyWhenAsked)
{
  const auto& c = GetParam();
  const tolvo::config::SpecifierSet set(c.spec);
  const tolvo::config::Version version(c.version);
  EXPECT_EQ(set.contains(version, true), c.admitted) << c.spec << " " << c.version;
  EXPECT_EQ(set.contains(version, false), c.refused) << c.spec << " " << c.version;
}

// Every operator against a pre-release, and a final release for contrast.
INSTANTIATE_TEST_SUITE_P(
  Table, PrereleaseRule,
  ::testing::Values(PrereleaseCase{">=1.0", "2.0rc1", true, false}, PrereleaseCase{">=1.0", "2.0", true, true},
                    PrereleaseCase{"<=2.0", "2.0b1", true, false}, PrereleaseCase{">1.0", "1.1.dev0", true, false},
                    PrereleaseCase{"<2.0", "2.0a1", false, false}, PrereleaseCase{"<2.0a2", "2.0a1", true, false},
                    PrereleaseCase{"==2.0a1", "2.0a1", true, false}, PrereleaseCase{"==2.*", "2.1a1", true, false},
                    PrereleaseCase{"!=2.0", "2.1a1", true, false}, PrereleaseCase{"~=2.0", "2.5rc2", true, false},
                    PrereleaseCase{"===2.0a1", "2.0a1", true, false}, PrereleaseCase{"", "1.0.dev1", true, false}));

} // namespace
