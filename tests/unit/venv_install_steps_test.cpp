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
}

} // namespace
} // namespace tolvo::venv
