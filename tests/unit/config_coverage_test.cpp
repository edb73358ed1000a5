#include "tolvo/config/coverage.hpp"
#include "tolvo/config/coverage_detail.hpp"
#include "tolvo/config/packaging/requirement.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct CoverCase
{
  std::string expected;
  std::string actual;
  bool covered;
};

class Coverage : public ::testing::TestWithParam<CoverCase>
{};

TEST_P(Coverage, JudgesOnePair)
{
  const auto& c = GetParam();
  auto missing = tolvo::config::requirements_not_satisfied_by({c.expected}, {c.actual}, ">=3.10");
  if (c.covered) {
    EXPECT_EQ(missing, Strings{}) << c.expected << " by " << c.actual;
  } else {
    EXPECT_EQ(missing, Strings{tolvo::config::Requirement(c.expected).str()}) << c.expected << " by " << c.actual;
  }
}

INSTANTIATE_TEST_SUITE_P(
  Table, Coverage,
  ::testing::Values(
    CoverCase{"pytest", "pytest>=8", true}, CoverCase{"pytest", "pytest", true},
    CoverCase{"pytest", "pytest==8.0", true}, CoverCase{"setuptools>=61", "setuptools>=70", true},
    CoverCase{"setuptools>=61", "setuptools==70.0", true}, CoverCase{"setuptools>=61", "setuptools>=60", false},
    CoverCase{"setuptools>=61", "setuptools", false}, CoverCase{"foo==1.0", "foo==1.0", true},
    CoverCase{"foo==1.0", "foo==1.0.0", false}, CoverCase{"foo==1.0", "foo>=1.0", true},
    CoverCase{"foo==1.0", "foo>=1.2", true}, CoverCase{"foo==1.0", "foo>=0.9", false},
    CoverCase{"foo<2", "foo>=5", true}, CoverCase{"foo!=3", "foo", true}, CoverCase{"Foo_Bar.baz", "foo-bar-baz", true},
    CoverCase{"foo[a]", "foo", false}, CoverCase{"foo[a]", "foo[a,b]", true}, CoverCase{"foo", "foo[a]", true},
    CoverCase{"foo", "bar", false}, CoverCase{"foo", "foo; python_version >= '3.8'", true},
    CoverCase{"foo", "foo; sys_platform == 'linux'", false}, CoverCase{"foo", "foo; platform_system == 'Linux'", false},
    CoverCase{"foo; sys_platform == 'linux'", "foo; sys_platform == 'linux'", true},
    CoverCase{"foo; sys_platform == 'linux'", "foo; platform_system == 'Linux'", true},
    CoverCase{"foo; sys_platform == 'aix'", "foo; sys_platform == 'linux'", true},
    CoverCase{"foo; sys_platform == 'aix'", "foo[x]>=9; os_name == 'nt'", true},
    CoverCase{"foo>=2; sys_platform == 'aix'", "foo>=1; os_name == 'nt'", false},
    CoverCase{"foo>=1.0,<2", "foo>=1.0.0", true}, CoverCase{"foo>=1.0a1", "foo>=1.0", true}));

TEST(Coverage, EntriesAreNeverCombined)
{
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by(
              {"foo"}, {"foo; sys_platform == 'linux'", "foo; sys_platform != 'linux'"}, ">=3.10"),
            Strings{"foo"});
}

TEST(Coverage, ReportOrderGroupsByCanonicalName)
{
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({"a", "b", "A"}, {}, ">=3.10"), (Strings{"a", "A", "b"}));
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({"foo >= 1.0 , < 2", "foo>=1"}, {"bar"}, ">=3.10"),
            (Strings{"foo<2,>=1.0", "foo>=1"}));
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({"x>=2", "x>=2"}, {"x>=1"}, ">=3.10"),
            (Strings{"x>=2", "x>=2"}));
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({"Foo_Bar>=9"}, {"foo-bar>=1"}, ">=3.10"),
            Strings{"Foo_Bar>=9"});
}

TEST(Coverage, EmptyExpectedStillParsesActual)
{
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({}, {"foo"}, ">=3.10"), Strings{});
  EXPECT_THROW(tolvo::config::requirements_not_satisfied_by({}, {"foo >=1 <2"}, ">=3.10"), tolvo::InvalidValue);
  EXPECT_THROW(tolvo::config::requirements_not_satisfied_by({"-bad"}, {}, ">=3.10"), tolvo::InvalidValue);
}

TEST(Coverage, RequiresPythonErrorsOnlyWhenMarkersDiffer)
{
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({"foo"}, {"foo"}, "not a specifier"), Strings{});
  EXPECT_THROW(tolvo::config::requirements_not_satisfied_by({"foo"}, {"foo; os_name == 'nt'"}, "not a specifier"),
               tolvo::InvalidValue);
}

TEST(Coverage, WildcardPinAgainstLowerBoundIsInvalidVersion)
{
  try {
    (void)tolvo::config::requirements_not_satisfied_by({"foo==3.8.*"}, {"foo>=3.9"}, ">=3.10");
    FAIL();
  } catch (const tolvo::InvalidValue& e) {
    EXPECT_STREQ(e.what(), "Invalid version: '3.8.*'");
  }
  // Two pins compare as text, without parsing.
  EXPECT_EQ(tolvo::config::requirements_not_satisfied_by({"foo==3.8.*"}, {"foo==3.8.*"}, ">=3.10"), Strings{});
}

TEST(SpecifierCovers, Table)
{
  auto covers = [](const char* e, const char* a) {
    return tolvo::config::specifier_covers(tolvo::config::SpecifierSet(e), tolvo::config::SpecifierSet(a));
  };
  EXPECT_TRUE(covers("", ""));
  EXPECT_TRUE(covers("<2", ""));
  EXPECT_FALSE(covers(">=1", "<5"));
  EXPECT_TRUE(covers(">=1", "==1.0"));
  EXPECT_FALSE(covers("==1.0", "<5"));
  EXPECT_TRUE(covers("==1.0", "==1.0,>=0.1"));
  EXPECT_FALSE(covers("==1.0", "==2.0,>=3"));
}

TEST(GetMinVersion, FirstLowerBoundOrPin)
{
  EXPECT_EQ(tolvo::config::minimum_version(tolvo::config::SpecifierSet("<3,==2.1,>=1")),
            std::optional<std::string>("2.1"));
  EXPECT_EQ(tolvo::config::minimum_version(tolvo::config::SpecifierSet(">= v1.0 ,==2")),
            std::optional<std::string>("v1.0"));
  EXPECT_EQ(tolvo::config::minimum_version(tolvo::config::SpecifierSet("<3,!=2,~=1.0,>1")), std::nullopt);
}

TEST(MarkerEnvironments, UseTheMinimumPython)
{
  auto envs = tolvo::config::generate_marker_environments(">=3.11.2,<4");
  ASSERT_EQ(envs.size(), 3U);
  const char* platforms[] = {"linux", "darwin", "win32"};
  const char* systems[] = {"Linux", "Darwin", "Win32"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(envs[i], (std::map<std::string, std::string>{{"python_version", "3.11.2"},
                                                           {"python_full_version", "3.11.2.0"},
                                                           {"sys_platform", platforms[i]},
                                                           {"platform_system", systems[i]}}));
  }
  auto pinned = tolvo::config::generate_marker_environments("==3.11");
  EXPECT_EQ(pinned[0].at("python_version"), "==3.11");
  EXPECT_EQ(pinned[0].at("python_full_version"), "==3.11.0");
  EXPECT_THROW(tolvo::config::generate_marker_environments(">=3.x"), tolvo::InvalidValue);
}

TEST(MarkerCovers, Table)
{
  auto m = [](const char* t) { return std::optional<tolvo::config::Marker>(tolvo::config::Marker(t)); };
  EXPECT_TRUE(tolvo::config::marker_covers(std::nullopt, std::nullopt, ">=3.10"));
  EXPECT_TRUE(tolvo::config::marker_covers(m("os_name=='nt'"), std::nullopt, ">=3.10"));
  EXPECT_TRUE(tolvo::config::marker_covers(m("os_name=='nt'"), m("os_name == \"nt\""), "garbage"));
  EXPECT_FALSE(tolvo::config::marker_covers(std::nullopt, m("python_version >= '3.11'"), ">=3.10"));
  EXPECT_TRUE(tolvo::config::marker_covers(std::nullopt, m("python_version >= '3.11'"), ">=3.11"));
  // Undefined comparisons skip the environment rather than fail.
  EXPECT_TRUE(tolvo::config::marker_covers(std::nullopt, m("sys_platform ~= 'linux'"), ">=3.10"));
  // With "==3.11" as python_version, version comparisons hold nowhere.
  EXPECT_FALSE(tolvo::config::marker_covers(std::nullopt, m("python_version >= '3.8'"), "==3.11"));
}

} // namespace
