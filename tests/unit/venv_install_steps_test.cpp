#include "tolvo/venv/install_steps.hpp"

#include <gtest/gtest.h>

namespace tolvo::venv {
namespace {

using Args = std::vector<std::string>;

TEST(InstallSteps, RequirementsJoinExtrasAsGiven)
{
  EXPECT_EQ(requirements_step("/v/bin/pip", {}).args, (Args{"/v/bin/pip", "install", "--quiet", "--editable", "."}));
  EXPECT_EQ(requirements_step("p", {"dev", "test"}).args.back(), ".[dev,test]");
  EXPECT_EQ(requirements_step("p", {"test", "test"}).args.back(), ".[test,test]");
  EXPECT_EQ(requirements_step("p", {}).action, "Installing requirements");
}

TEST(InstallSteps, EnvironmentStepsUseTheBaseInterpreterThenTheEnvironment)
{
  EXPECT_EQ(creation_step("/p/.venv"),
            (InstallStep{"Creating virtual environment",
                         {"python", "-m", "venv", "--system-site-packages", "--upgrade", "/p/.venv"}}));
  EXPECT_EQ(ensure_pip_step("/p/.venv/bin/python"),
            (InstallStep{"Ensuring pip is installed", {"/p/.venv/bin/python", "-um", "ensurepip"}}));
  EXPECT_EQ(upgrade_pip_step("/p/.venv/bin/pip"),
            (InstallStep{"Upgrading pip", {"/p/.venv/bin/pip", "install", "--upgrade", "pip"}}));
  EXPECT_EQ(creation_step("/p/.venv", /*system_site_packages=*/false).args,
            (Args{"python", "-m", "venv", "--upgrade", "/p/.venv"}));
}

struct TestToolsCase
{
  config::RequirementNames tools;
  Args args;
};

class TestToolsStep : public ::testing::TestWithParam<TestToolsCase>
{};

// What the step installs and what the when-needed refresh judges come from
// one description: the two may never disagree.
TEST_P(TestToolsStep, InstallsAndJudgesTheSameNames)
{
  const InstallStep step = test_tools_step("pip", GetParam().tools);
  EXPECT_EQ(step.action, "Installing test tools");
  EXPECT_EQ(step.args, GetParam().args);
  EXPECT_TRUE(step.target.project);
  EXPECT_EQ(step.target.extras, GetParam().tools.extras);
  EXPECT_EQ(step.target.groups, GetParam().tools.groups);
  EXPECT_TRUE(step.target.packages.empty());
}

INSTANTIATE_TEST_SUITE_P(
  Table, TestToolsStep,
  ::testing::Values(TestToolsCase{{{"test"}, {}}, {"pip", "install", "-e", ".[test]"}},
                    TestToolsCase{{{}, {"tests"}}, {"pip", "install", "-e", ".", "--group", "tests"}},
                    TestToolsCase{{{"docs", "test"}, {"Testing", "dev"}},
                                  {"pip", "install", "-e", ".[docs,test]", "--group", "Testing", "--group", "dev"}},
                    TestToolsCase{{{}, {}}, {"pip", "install", "-e", "."}}));

} // namespace
} // namespace tolvo::venv
