#include "tolvo/errors.hpp"
#include "tolvo/venv/install_steps.hpp"
#include "tolvo/venv/installer.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tolvo::venv {
namespace {

using Args = std::vector<std::string>;

const Installer PIP{};
const Installer UV{InstallerKind::uv, "/opt/uv", "/usr/bin/python3"};
const std::string PYTHON = "/p/.venv/bin/python";

TEST(InstallSteps, RequirementsJoinExtrasAsGiven)
{
  const InstallCommand pip = PIP.install_command(PYTHON);
  EXPECT_EQ(requirements_step(pip, {}).args, (Args{PYTHON, "-m", "pip", "install", "--quiet", "--editable", "."}));
  EXPECT_EQ(requirements_step(pip, {"dev", "test"}).args.back(), ".[dev,test]");
  EXPECT_EQ(requirements_step(pip, {"test", "test"}).args.back(), ".[test,test]");
  EXPECT_EQ(requirements_step(pip, {}).action, "Installing requirements");
}

// The same targets under either installer; only the command before them differs.
TEST(InstallSteps, EveryPackageStepStartsWithTheInstallersCommand)
{
  for (const Installer& installer : {PIP, UV}) {
    const InstallCommand install = installer.install_command(PYTHON);
    const auto with = [&](Args tail) {
      Args args = install;
      args.insert(args.end(), tail.begin(), tail.end());
      return args;
    };
    EXPECT_EQ(upgrade_pip_step(install).args, with({"--upgrade", "pip"}));
    EXPECT_EQ(build_tools_step(install).args, with({"build", "wheel"}));
    EXPECT_EQ(test_tools_step(install, {{"test"}, {}}).args, with({"-e", ".[test]"}));
    EXPECT_EQ(test_tools_step(install, {{}, {"test"}}).args, with({"-e", ".", "--group", "test"}));
    EXPECT_EQ(lint_tools_step(install).args, with({"ruff", "vulture", "basedpyright", "dodgy", "pyroma"}));
    EXPECT_EQ(requirements_step(install, {"a"}, {"g"}).args, with({"--quiet", "--editable", ".[a]", "--group", "g"}));
  }
  EXPECT_EQ(PIP.install_command(PYTHON), (Args{PYTHON, "-m", "pip", "install"}));
  EXPECT_EQ(UV.install_command(PYTHON), (Args{"/opt/uv", "pip", "install", "--python", PYTHON}));
}

TEST(InstallSteps, EnvironmentStepsUseTheBaseInterpreterThenTheEnvironment)
{
  EXPECT_EQ(creation_step("/p/.venv"),
            (InstallStep{"Creating virtual environment",
                         {"python", "-m", "venv", "--system-site-packages", "--upgrade", "/p/.venv"}}));
  EXPECT_EQ(creation_step("/p/.venv", PIP, false).args, (Args{"python", "-m", "venv", "--upgrade", "/p/.venv"}));
  EXPECT_EQ(creation_step("/p/.venv", UV), (InstallStep{"Creating virtual environment",
                                                        {"/opt/uv", "venv", "--seed", "--allow-existing", "--python",
                                                         "/usr/bin/python3", "--system-site-packages", "/p/.venv"}}));
  EXPECT_EQ(creation_step("/p/.venv", UV, false).args,
            (Args{"/opt/uv", "venv", "--seed", "--allow-existing", "--python", "/usr/bin/python3", "/p/.venv"}));
  EXPECT_EQ(ensure_pip_step(PYTHON), (InstallStep{"Ensuring pip is installed", {PYTHON, "-um", "ensurepip"}}));
}

TEST(Installer, NamesAreExactAndAWrongOneNamesBothChoices)
{
  EXPECT_EQ(parse_installer("pip", "x"), InstallerKind::pip);
  EXPECT_EQ(parse_installer("uv", "x"), InstallerKind::uv);
  for (const char* wrong : {"UV", "", "pip ", "conda"}) {
    try {
      parse_installer(wrong, "pyproject.toml: 'tool.tolvo.installer'");
      ADD_FAILURE() << wrong;
    } catch (const InvalidValue& error) {
      EXPECT_EQ(std::string(error.what()), std::string("pyproject.toml: 'tool.tolvo.installer': unknown installer '") +
                                             wrong + "' (expected 'pip' or 'uv')");
    }
  }
}

// uv on PATH wins over the one beside tolvo; only executable files count.
TEST(Installer, UvIsFoundOnThePathThenBesideTolvo)
{
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("tolvo-find-uv-" + std::to_string(::getpid()));
  fs::remove_all(root);
  for (const char* dir : {"path", "own", "empty"}) {
    fs::create_directories(root / dir);
  }
  for (const char* dir : {"path", "own"}) {
    std::ofstream(root / dir / "uv") << "#!/bin/sh\n";
    fs::permissions(root / dir / "uv", fs::perms::owner_all);
  }
  std::ofstream(root / "empty" / "uv") << "not executable\n";
  const std::string path = (root / "path").string();
  const std::string own = (root / "own").string();
  const std::string empty = (root / "empty").string();
  EXPECT_EQ(find_uv(empty + ":" + path, own), path + "/uv");
  EXPECT_EQ(find_uv(empty, own), own + "/uv");
  EXPECT_EQ(find_uv(empty, empty), std::nullopt);
  EXPECT_EQ(find_uv(empty, ""), std::nullopt);
  fs::remove_all(root);
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
  const InstallStep step = test_tools_step({"pip", "install"}, GetParam().tools);
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
