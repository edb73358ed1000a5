#include "tolvo/config/pyproject.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace tolvo::config {
namespace {

// Written out of alphabetical order: the reader keeps the document's.
constexpr const char* GROUPS = R"([dependency-groups]
test = ["pytest>=8", {include-group = "Type_Check"}, "coverage"]
type-check = ["mypy", {include-group = "runtime"}]
runtime = ["attrs"]
a-loop = [{include-group = "b-loop"}]
b-loop = [{include-group = "A.Loop"}]
odd = [1]
missing = [{include-group = "nowhere"}]
)";

DependencyGroups groups_of(const std::string& text)
{
  std::istringstream stream(text);
  return ProjectConfig(stream).dependency_groups().value();
}

TEST(DependencyGroups, ReadInDocumentOrderWithIncludesKept)
{
  const DependencyGroups groups = groups_of(GROUPS);
  ASSERT_EQ(groups.size(), 7U);
  EXPECT_EQ(groups[0].name, "test");
  EXPECT_EQ(groups[1].name, "type-check");
  EXPECT_EQ(groups[0].entries[1], (DependencyGroupEntry{DependencyGroupEntry::Kind::include, "Type_Check"}));
  EXPECT_EQ(groups[5].entries[0].kind, DependencyGroupEntry::Kind::invalid);
}

struct ResolveCase
{
  std::string group;
  std::vector<std::string> requirements; // empty: resolution fails
};

class ResolveGroup : public ::testing::TestWithParam<ResolveCase>
{};

TEST_P(ResolveGroup, ExpandsIncludesDepthFirstByNormalisedName)
{
  const DependencyGroups groups = groups_of(GROUPS);
  if (GetParam().requirements.empty()) {
    EXPECT_THROW(resolve_dependency_group(groups, GetParam().group), InvalidValue);
  } else {
    EXPECT_EQ(resolve_dependency_group(groups, GetParam().group), GetParam().requirements);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ResolveGroup,
                         ::testing::Values(ResolveCase{"test", {"pytest>=8", "mypy", "attrs", "coverage"}},
                                           ResolveCase{"TYPE.check", {"mypy", "attrs"}}, ResolveCase{"a-loop", {}},
                                           ResolveCase{"odd", {}}, ResolveCase{"missing", {}},
                                           ResolveCase{"absent", {}}));

TEST(DependencyGroups, NamesThatNormaliseAlikeAreRefused)
{
  const DependencyGroups groups = groups_of("[dependency-groups]\nDev = [\"a\"]\ndev = [\"b\"]\n");
  EXPECT_THROW(resolve_dependency_group(groups, "Dev"), InvalidValue);
  std::istringstream none("[project]\nname = \"x\"\n");
  EXPECT_FALSE(ProjectConfig(none).dependency_groups());
  std::istringstream not_a_table("dependency-groups = [\"x\"]\n");
  EXPECT_THROW(ProjectConfig(not_a_table).dependency_groups(), AssertionFailure);
}

} // namespace
} // namespace tolvo::config
