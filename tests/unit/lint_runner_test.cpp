// The lint runner's pure parts: ruff's arguments, the checks that the
// project's settings skip, kept extras, display lines, PYTHONPATH
// composition and where the tool's own files are found.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/console/spinner.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/lint/lint_display.hpp"
#include "tolvo/lint/lint_runner.hpp"
#include "tolvo/lint/module_path.hpp"
#include "tolvo/platform/text.hpp"

#include "support/scoped_temp_dir.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace tolvo::lint {
namespace {

namespace fs = std::filesystem;

config::Extras groups(const std::vector<std::string>& names)
{
  config::Extras extras;
  for (const std::string& name : names) {
    extras.push_back({name, {"x"}});
  }
  return extras;
}

TEST(LintInstallExtras, KeepsTestDevLintInProjectOrder)
{
  const std::vector<std::tuple<std::vector<std::string>, std::vector<std::string>>> cases = {
    {{"docs", "test", "lint"}, {"test", "lint"}},
    {{"lint", "dev", "test"}, {"lint", "dev", "test"}},
    {{"docs", "Test", "linting"}, {}},
    {{}, {}},
  };
  for (const auto& [names, expected] : cases) {
    EXPECT_EQ(lint_install_extras(groups(names)), expected);
  }
  EXPECT_TRUE(lint_install_extras(std::nullopt).empty());
}

TEST(LintResultLine, PassAndFailWithCode)
{
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
    {"ruff", 0, "ruff: PASS"},
    {"dodgy", 1, "dodgy: FAIL (1)"},
    {"basedpyright", 127, "basedpyright: FAIL (127)"},
    {"tolvo", -9, "tolvo: FAIL (-9)"},
  };
  for (const auto& [label, code, expected] : cases) {
    EXPECT_EQ(lint_result_line(label, code), expected);
  }
}

TEST(LintProgressLines, RunningChecksShowTheFrameFinishedOnesTheirResult)
{
  const std::vector<LintLineState> states = {
    {"ruff", std::nullopt}, {"basedpyright", 0}, {"dodgy", 2}, {"pyroma", std::nullopt}, {"tolvo", std::nullopt},
  };
  EXPECT_EQ(lint_progress_lines(states, 1),
            "ruff: [\u2819]\nbasedpyright: PASS\ndodgy: FAIL (2)\npyroma: [\u2819]\ntolvo: [\u2819]\n");
  // Every frame index picks its own frame; indices wrap at ten.
  for (std::size_t i = 0; i < 12; ++i) {
    const std::string frame(console::SPINNER_FRAMES[i % 10]);
    EXPECT_EQ(lint_progress_lines({{"ruff", std::nullopt}}, i), "ruff: [" + frame + "]\n");
  }
  EXPECT_EQ(lint_progress_lines({}, 3), "");
}

TEST(LintProgressLines, ResultLinesAreNeverShorterThanProgressLines)
{
  // The final report overwrites the progress lines without clearing them.
  for (const LintTool& tool : lint_tool_table(false)) {
    const std::string progress = lint_progress_lines({{tool.label, std::nullopt}}, 0);
    EXPECT_GE(platform::character_count(lint_result_line(tool.label, 0)) + 1, platform::character_count(progress));
  }
}

TEST(LintProgressLines, EveryLineFitsOneRowOfANarrowTerminal)
{
  const std::vector<LintLineState> states = {{"basedpyright", std::nullopt}, {"pyroma", 12}};
  EXPECT_EQ(lint_progress_lines(states, 0, 10), "base: [\u280b]\npyroma: F\n");
  EXPECT_EQ(lint_progress_lines(states, 0, 0), lint_progress_lines(states, 0));
}

TEST(LintArrivalLines, EachResultOnceAsItArrivesInTableOrder)
{
  std::vector<bool> shown;
  std::vector<LintLineState> states = {{"ruff", std::nullopt}, {"dodgy", std::nullopt}, {"pyroma", std::nullopt}};
  EXPECT_EQ(lint_arrival_lines(states, shown), "");
  states[2].returncode = 0;
  EXPECT_EQ(lint_arrival_lines(states, shown), "pyroma: PASS\n");
  EXPECT_EQ(lint_arrival_lines(states, shown), "");
  states[0].returncode = 3;
  states[1].returncode = 0;
  EXPECT_EQ(lint_arrival_lines(states, shown), "ruff: FAIL (3)\ndodgy: PASS\n");
  EXPECT_EQ(lint_arrival_lines(states, shown), "");
}

TEST(LiveDisplay, WithoutRedrawingNoCursorMovesAndNoLineTwice)
{
  std::ostringstream out;
  std::ostringstream err;
  const platform::ConsoleStreams console{out, err, true, 80, /*redraws=*/false};
  {
    LiveDisplay display(console, 2);
    display.draw({{"ruff", std::nullopt}, {"dodgy", std::nullopt}}, 1);
    display.rewind();
    display.draw({{"ruff", std::nullopt}, {"dodgy", 1}}, 2);
    display.rewind();
    display.draw({{"ruff", 0}, {"dodgy", 1}}, 3);
    display.rewind();
    display.hand_over();
  }
  EXPECT_EQ(out.str(), "Running linters...\ndodgy: FAIL (1)\nruff: PASS\n");
}

TEST(LintPythonpath, ModulePathFirstThenTheExistingParts)
{
  const std::vector<std::tuple<std::optional<std::string>, std::string>> cases = {
    {std::nullopt, "/m:"}, {"", "/m:"}, {"/a", "/m:/a"}, {"/a:/b", "/m:/a:/b"}, {"/a::/b:", "/m:/a::/b:"},
  };
  for (const auto& [existing, expected] : cases) {
    EXPECT_EQ(lint_pythonpath("/m", existing), expected);
  }
}

TEST(ModulePath, SitePackagesThenRepositorySourcesThenExecutableDirectory)
{
  const tolvo::testing::ScopedTempDir temp;
  const fs::path root = temp.path();
  fs::create_directories(root / "venv/bin");
  fs::create_directories(root / "venv/lib/python3.11/site-packages/tolvo");
  EXPECT_EQ(module_path_for_executable(root / "venv/bin/tolvo"), (root / "venv/lib/python3.11/site-packages").string());

  fs::create_directories(root / "repo/build");
  fs::create_directories(root / "repo/python/tolvo");
  EXPECT_EQ(module_path_for_executable(root / "repo/build/tolvo"), (root / "repo/python").string());

  // A site-packages without the package does not count.
  fs::create_directories(root / "other/bin");
  fs::create_directories(root / "other/lib/python3.12/site-packages");
  EXPECT_EQ(module_path_for_executable(root / "other/bin/tolvo"), (root / "other/bin").string());
}

using V = std::vector<std::string>;

config::ProjectConfig project(const std::string& text)
{
  std::istringstream stream(text);
  return config::ProjectConfig(stream);
}

TEST(LintToolTable, RuffNeverFixesUnlessAsked)
{
  for (const bool fix : {false, true}) {
    const std::vector<LintTool> tools = lint_tool_table(fix);
    ASSERT_EQ(tools.front().label, "ruff");
    EXPECT_EQ(tools.front().args, (V{"check", fix ? "--fix" : "--no-fix"}));
    // No other check is told to fix, or changes with the flag.
    for (std::size_t i = 1; i < tools.size(); ++i) {
      EXPECT_EQ(tools[i].args, lint_tool_table(!fix)[i].args) << tools[i].label;
    }
  }
}

TEST(SkippedChecks, NamesOfTheReportInTableOrder)
{
  const std::vector<std::pair<std::string, V>> cases = {
    {"", {}},
    {"[tool.ruff]\nfix = true\n", {}},
    {"[tool.tolvo]\nlint-skip = []\n", {}},
    {"[tool.tolvo]\nlint-skip = [\"tolvo\", \"pyroma\", \"tolvo\"]\n", {"pyroma", "tolvo"}},
    {"[tool.tolvo]\nlint-skip = [\"ruff\", \"basedpyright\", \"dodgy\", \"pyroma\", \"tolvo\"]\n",
     {"ruff", "basedpyright", "dodgy", "pyroma", "tolvo"}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(skipped_checks(project(text)), expected) << text;
  }
}

TEST(SkippedChecks, WrongNameOrTypeIsAnErrorNamingTheKey)
{
  struct Case
  {
    const char* text;
    const char* message;
  };
  const std::vector<Case> cases = {
    {"[tool.tolvo]\nlint-skip = [\"mypy\"]\n",
     "tool.tolvo.lint-skip: unknown check 'mypy'; the checks are ruff, basedpyright, dodgy, pyroma, tolvo"},
    // Names are the report's labels exactly.
    {"[tool.tolvo]\nlint-skip = [\"Ruff\"]\n",
     "tool.tolvo.lint-skip: unknown check 'Ruff'; the checks are ruff, basedpyright, dodgy, pyroma, tolvo"},
    {"[tool.tolvo]\nlint-skip = \"ruff\"\n", "<stream>: 'tool.tolvo.lint-skip' is not an array: 'ruff'"},
    {"[tool.tolvo]\nlint-skip = [\"ruff\", 1]\n", "<stream>: 'tool.tolvo.lint-skip[1]' is not a string: 1"},
  };
  for (const Case& c : cases) {
    try {
      (void)skipped_checks(project(c.text));
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Error& error) {
      const std::string shown = error.context().empty() ? error.what() : error.context() + ": " + error.what();
      EXPECT_EQ(shown, c.message);
    }
  }
}

} // namespace
} // namespace tolvo::lint
