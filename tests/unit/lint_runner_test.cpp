// What the lint runner decides before it runs anything: ruff's arguments and
// the checks that the project's settings skip.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/lint/lint_runner.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace tolvo::lint {
namespace {

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
