#include "tolvo/config/test_tools.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace tolvo::config {
namespace {

ProjectConfig config_of(const std::string& text)
{
  std::istringstream stream(text);
  return ProjectConfig(stream);
}

struct ToolsCase
{
  const char* label;
  const char* document; // after "[project]\nname = 'demo'\n"
  RequirementNames tools;
  const char* error; // nullptr when the names are found
};

void PrintTo(const ToolsCase& c, std::ostream* os)
{
  *os << c.label;
}

class TestToolNames : public ::testing::TestWithParam<ToolsCase>
{};

TEST_P(TestToolNames, SettingThenTestExtraThenFirstUsualGroup)
{
  const ToolsCase& c = GetParam();
  const ProjectConfig config = config_of(std::string("[project]\nname = 'demo'\n") + c.document);
  if (c.error == nullptr) {
    EXPECT_EQ(test_tool_names(&config), c.tools);
    return;
  }
  try {
    test_tool_names(&config);
    FAIL() << "no InvalidValue";
  } catch (const InvalidValue& error) {
    EXPECT_EQ(std::string(error.what()), c.error);
  }
}

constexpr const char* TESTS_AND_DEV = "[dependency-groups]\ndev = ['ruff']\ntests = ['pytest']\n";

INSTANTIATE_TEST_SUITE_P(
  Table, TestToolNames,
  ::testing::Values(
    ToolsCase{"test_extra_wins_over_groups",
              "optional-dependencies = {test = ['pytest']}\n[dependency-groups]\n"
              "tests = ['pytest']\n",
              {{"test"}, {}},
              nullptr},
    // The order of preference, not the document's, picks among the groups.
    ToolsCase{"tests_before_dev", TESTS_AND_DEV, {{}, {"tests"}}, nullptr},
    ToolsCase{"testing_before_dev", "[dependency-groups]\ndev = []\ntesting = []\n", {{}, {"testing"}}, nullptr},
    ToolsCase{"test_before_tests", "[dependency-groups]\ntests = []\ntest = []\n", {{}, {"test"}}, nullptr},
    ToolsCase{"dev_alone", "[dependency-groups]\nlint = []\ndev = []\n", {{}, {"dev"}}, nullptr},
    ToolsCase{"group_name_normalised", "[dependency-groups]\nTESTS = []\n", {{}, {"tests"}}, nullptr},
    // A "tests" extra is not looked for; the group is.
    ToolsCase{"tests_extra_is_not_the_test_extra",
              "optional-dependencies = {tests = ['pytest']}\n[dependency-groups]\ndev = []\n",
              {{}, {"dev"}},
              nullptr},
    ToolsCase{"nothing_found_asks_the_test_extra", "[dependency-groups]\nlint = []\n", {{"test"}, {}}, nullptr},
    ToolsCase{"no_groups_at_all", "", {{"test"}, {}}, nullptr},
    ToolsCase{"setting_overrides_the_test_extra",
              "optional-dependencies = {test = [], docs = []}\n[dependency-groups]\ntesting = []\n"
              "[tool.tolvo]\ntest-groups = ['docs', 'Testing', 'docs']\n",
              {{"docs", "docs"}, {"Testing"}},
              nullptr},
    ToolsCase{"setting_empty_installs_the_project_alone", "[tool.tolvo]\ntest-groups = []\n", {{}, {}}, nullptr},
    ToolsCase{"setting_unknown_name_with_groups",
              "optional-dependencies = {test = []}\n[dependency-groups]\ntests = []\n"
              "[tool.tolvo]\ntest-groups = ['tests', 'check']\n",
              {},
              "Unknown extra or dependency group 'check'. Extras: test. Dependency groups: tests"},
    ToolsCase{"setting_unknown_name_without_groups",
              "optional-dependencies = {test = []}\n[tool.tolvo]\ntest-groups = ['tests']\n",
              {},
              "Unknown extra 'tests'. Available: test"}),
  [](const ::testing::TestParamInfo<ToolsCase>& case_info) { return std::string(case_info.param.label); });

TEST(TestToolNames, WithoutPyprojectOrProjectTableTheTestExtraOrAGroup)
{
  EXPECT_EQ(test_tool_names(nullptr), (RequirementNames{{"test"}, {}}));
  // A setup.py project's pyproject.toml may hold no [project] at all.
  const ProjectConfig build_only = config_of("[build-system]\nrequires = ['setuptools']\n");
  EXPECT_EQ(test_tool_names(&build_only), (RequirementNames{{"test"}, {}}));
  const ProjectConfig groups_only = config_of("[dependency-groups]\ntesting = ['pytest']\n");
  EXPECT_EQ(test_tool_names(&groups_only), (RequirementNames{{}, {"testing"}}));
}

} // namespace
} // namespace tolvo::config
