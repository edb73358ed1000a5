#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/requirement.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

struct TextCase
{
  std::string text;
  std::string normal;
};

class RequirementText : public ::testing::TestWithParam<TextCase>
{};

TEST_P(RequirementText, Normalises)
{
  EXPECT_EQ(tolvo::config::Requirement(GetParam().text).str(), GetParam().normal);
}

INSTANTIATE_TEST_SUITE_P(Table, RequirementText,
                         ::testing::Values(TextCase{"foo >= 1.0 , < 2", "foo<2,>=1.0"}, TextCase{"pytest", "pytest"},
                                           TextCase{" Foo_Bar.baz [b, a] (>=1)", "Foo_Bar.baz[a,b]>=1"},
                                           TextCase{"foo[]", "foo"}, TextCase{"foo==1.0.*", "foo==1.0.*"},
                                           TextCase{"foo>=v1.0", "foo>=v1.0"},
                                           TextCase{"foo; python_version >= '3.8'", "foo; python_version >= \"3.8\""},
                                           TextCase{"foo >=1 ;os_name=='nt'", "foo>=1; os_name == \"nt\""},
                                           TextCase{"foo @ https://x/y.whl", "foo @ https://x/y.whl"},
                                           TextCase{"foo[a] @ https://x/y.whl ; os_name=='nt'",
                                                    "foo[a] @ https://x/y.whl ; os_name == \"nt\""}));

class InvalidRequirement : public ::testing::TestWithParam<std::string>
{};

TEST_P(InvalidRequirement, ThrowsNamingText)
{
  try {
    tolvo::config::Requirement r(GetParam());
    FAIL() << r.str();
  } catch (const tolvo::InvalidValue& e) {
    EXPECT_NE(std::string(e.what()).find("'" + GetParam() + "'"), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidRequirement,
                         ::testing::Values("", "-foo", "foo-", "foo >=1 <2", "foo[a b]", "foo[a,]", "foo[a",
                                           "foo >=1.0.*", "foo ; ", "foo ; os_name", "foo @", "foo (>=1",
                                           "foo; os_name == 'a' junk"));

TEST(Requirement, Fields)
{
  tolvo::config::Requirement r("Foo.Bar [x,y] >=1.0,!=1.5 ; sys_platform == 'linux'");
  EXPECT_EQ(r.name, "Foo.Bar");
  EXPECT_EQ(r.extras, (std::set<std::string>{"x", "y"}));
  EXPECT_EQ(r.specifier.size(), 2U);
  ASSERT_TRUE(r.marker.has_value());
  EXPECT_EQ(r.marker->str(), "sys_platform == \"linux\"");
  EXPECT_TRUE(r.url.empty());
}

TEST(CanonicalName, Pep503)
{
  EXPECT_EQ(tolvo::config::canonicalize_name("Foo_Bar.baz"), "foo-bar-baz");
  EXPECT_EQ(tolvo::config::canonicalize_name("a-_.-b"), "a-b");
  EXPECT_EQ(tolvo::config::canonicalize_name("PYTEST"), "pytest");
}

} // namespace
