#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/template.hpp"
#include "tolvo/config/template_diff.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"

#include "support/scoped_temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tolvo::testing::ScopedTempDir;
using List = std::optional<std::vector<std::string>>;

/// Collects what the code under test writes to std::cout.
class CoutCapture
{
public:
  CoutCapture()
    : m_previous(std::cout.rdbuf(m_buffer.rdbuf()))
  {}
  ~CoutCapture()
  {
    std::cout.rdbuf(m_previous);
  }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;
  std::string text() const
  {
    return m_buffer.str();
  }

private:
  std::ostringstream m_buffer;
  std::streambuf* m_previous;
};

struct ListCase
{
  List expected;
  List actual;
  int result;
};

class DiffLists : public ::testing::TestWithParam<ListCase>
{};

std::string shown(const List& list)
{
  return list ? tolvo::platform::python_list_display(*list) : "None";
}

TEST_P(DiffLists, ReportsOnlyMissingEntriesShowingBothListsWhole)
{
  const ListCase& c = GetParam();
  int result = 0;
  std::string printed;
  {
    CoutCapture capture;
    result = tolvo::_diff_lists("tool.x.exclude", c.expected, c.actual);
    printed = capture.text();
  }
  EXPECT_EQ(result, c.result);
  if (c.result == 0) {
    EXPECT_EQ(printed, "");
  } else {
    EXPECT_EQ(printed, "tool.x.exclude: expected " + shown(c.expected) + ", got " +
                         shown(c.actual) + "\n");
  }
}

using V = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
  Cases, DiffLists,
  ::testing::Values(ListCase{std::nullopt, std::nullopt, 0}, ListCase{V{}, std::nullopt, 0},
                    ListCase{std::nullopt, V{"a"}, 0}, ListCase{V{"a", "b"}, V{"b", "a"}, 0},
                    ListCase{V{"a", "a"}, V{"a"}, 0}, ListCase{V{"a"}, V{"a", "extra"}, 0},
                    ListCase{V{"a", "b"}, V{"a"}, 1}, ListCase{V{"a"}, std::nullopt, 1},
                    ListCase{V{"a"}, V{}, 1}, ListCase{V{"it's"}, V{"x\\y"}, 1}));

TEST(DiffListsDisplay, UsesPythonLiterals)
{
  CoutCapture capture;
  EXPECT_EQ(tolvo::_diff_lists("n", V{".venv", "it's"}, std::nullopt), 1);
  EXPECT_EQ(capture.text(), "n: expected ['.venv', \"it's\"], got None\n");
}

/// The template as diff() sees it, to build projects that match it.
tolvo::ProjectConfig filled_template()
{
  tolvo::TemplateValues values;
  for (const char* name : {"name", "description", "author_name", "author_email", "license_spdx",
                           "python_version"}) {
    values[name] = "x";
  }
  std::istringstream stream(tolvo::fill_template(
    "pyproject.toml.tpl", tolvo::read_template("pyproject.toml.tpl"), values));
  return tolvo::ProjectConfig(stream);
}

std::string toml_array(const std::vector<std::string>& items)
{
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i > 0 ? ", \"" : "\"") + items[i] + "\"";
  }
  return text + "]";
}

/// Parts of a project's pyproject.toml; each is left out when empty.
struct Project
{
  std::string requires_python = "requires-python = \">=3.11\"\n";
  std::string extras = "[project.optional-dependencies]\ntest = [\"pytest\"]\n";
  std::optional<std::vector<std::string>> build_requires;
  std::optional<std::string> backend;
  std::optional<std::vector<std::string>> pyright;
  std::optional<std::vector<std::string>> ruff;
  bool tool = true;

  std::string text(const tolvo::ProjectConfig& templ) const
  {
    std::string t = "[project]\nname = \"p\"\nversion = \"1\"\n" + requires_python + extras;
    t += "[build-system]\nrequires = " + toml_array(build_requires.value_or(templ.build_system_requires())) +
         "\nbuild-backend = \"" + backend.value_or(templ.build_backend()) + "\"\n";
    if (tool) {
      t += "[tool]\n[tool.pyright]\nexclude = " + toml_array(pyright.value_or(*templ.pyright_exclude())) +
           "\n[tool.ruff]\nexclude = " + toml_array(ruff.value_or(*templ.ruff_exclude())) + "\n";
    }
    return t;
  }
};

struct DiffRun
{
  int result;
  std::string printed;
};

DiffRun run_diff(const ScopedTempDir& dir, const std::string& pyproject)
{
  dir.write("pyproject.toml", pyproject);
  CoutCapture capture;
  const int result = tolvo::diff();
  return {result, capture.text()};
}

class Diff : public ::testing::Test
{
protected:
  ScopedTempDir m_dir;
  tolvo::ProjectConfig m_template = filled_template();
};

TEST_F(Diff, MatchingProjectPrintsNothing)
{
  const DiffRun run = run_diff(m_dir, Project{}.text(m_template));
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.printed, "");
}

TEST_F(Diff, ExtraEntriesInAnotherOrderAreFine)
{
  Project project;
  std::vector<std::string> pyright = *m_template.pyright_exclude();
  std::reverse(pyright.begin(), pyright.end());
  pyright.push_back("more");
  project.pyright = pyright;
  project.extras = "[project.optional-dependencies]\ndev = []\ntest = [\"pytest>=7\", \"x\"]\n";
  EXPECT_EQ(run_diff(m_dir, project.text(m_template)).result, 0);
}

TEST_F(Diff, MissingRequiresPythonSkipsTestAndBuildChecks)
{
  Project project;
  project.requires_python = "";
  project.extras = "";
  project.build_requires = std::vector<std::string>{};
  project.ruff = std::vector<std::string>{};
  const DiffRun run = run_diff(m_dir, project.text(m_template));
  EXPECT_EQ(run.printed,
            "Error: 'pyproject.toml' does not specify a 'requires-python' value.\n"
            "tool.ruff.exclude: expected " +
              tolvo::platform::python_list_display(*m_template.ruff_exclude()) + ", got []\n");
  EXPECT_EQ(run.result, 2);
}

TEST_F(Diff, NoOptionalDependencies)
{
  Project project;
  project.extras = "";
  const DiffRun run = run_diff(m_dir, project.text(m_template));
  EXPECT_EQ(run.printed, "Error: 'test' optional dependency group is missing.\n");
  EXPECT_EQ(run.result, 1);
}

TEST_F(Diff, TestGroupWithoutPytestEverywhere)
{
  Project project;
  project.extras = "[project.optional-dependencies]\ntest = [\"pytest; sys_platform == 'linux'\"]\n";
  const DiffRun run = run_diff(m_dir, project.text(m_template));
  EXPECT_EQ(run.printed, "Error: pytest is not installed in the 'test' extras group.\n");
  EXPECT_EQ(run.result, 1);
}

TEST_F(Diff, BuildFindingSetsCountToOne)
{
  Project project;
  project.extras = "";
  project.build_requires = std::vector<std::string>{"wheel"};
  project.backend = "flit_core.buildapi";
  project.pyright = std::vector<std::string>{};
  const DiffRun run = run_diff(m_dir, project.text(m_template));
  std::string requires_line = "build-system.requires: missing coverage for ";
  const auto template_requires = m_template.build_system_requires();
  for (std::size_t i = 0; i < template_requires.size(); ++i) {
    requires_line += (i > 0 ? ", " : "") + template_requires[i];
  }
  EXPECT_EQ(run.printed, "Error: 'test' optional dependency group is missing.\n" + requires_line +
                           "\nbuild-system.build-backend: expected " + m_template.build_backend() +
                           ", got flit_core.buildapi\n"
                           "tool.pyright.exclude: expected " +
                           tolvo::platform::python_list_display(*m_template.pyright_exclude()) +
                           ", got []\n");
  // Missing group (1), reset to 1 by the build requirements and the backend,
  // plus the pyright list.
  EXPECT_EQ(run.result, 2);
}

TEST_F(Diff, AbsentPyrightTableShownAsNone)
{
  const std::string text = Project{}.text(m_template);
  const std::string without_pyright =
    text.substr(0, text.find("[tool.pyright]")) + text.substr(text.find("[tool.ruff]"));
  const DiffRun run = run_diff(m_dir, without_pyright);
  EXPECT_EQ(run.printed, "tool.pyright.exclude: expected " +
                           tolvo::platform::python_list_display(*m_template.pyright_exclude()) +
                           ", got None\n");
  EXPECT_EQ(run.result, 1);
}

TEST_F(Diff, NoToolTableFailsAfterEarlierLines)
{
  Project project;
  project.tool = false;
  project.backend = "other";
  m_dir.write("pyproject.toml", project.text(m_template));
  CoutCapture capture;
  EXPECT_THROW(tolvo::diff(), tolvo::MissingKeyError);
  EXPECT_EQ(capture.text(), "build-system.build-backend: expected " + m_template.build_backend() +
                              ", got other\n");
}

TEST_F(Diff, UsesPyprojectAboveSubdirectory)
{
  Project project;
  project.extras = "";
  m_dir.write("sub/dir/keep", "");
  std::filesystem::current_path(m_dir.path() / "sub/dir");
  const DiffRun run = run_diff(m_dir, project.text(m_template));
  EXPECT_EQ(run.result, 1);
}

TEST_F(Diff, NoPyprojectIsNotFound)
{
  CoutCapture capture;
  EXPECT_THROW(tolvo::diff(), tolvo::NotFoundError);
  EXPECT_EQ(capture.text(), "");
}

} // namespace
