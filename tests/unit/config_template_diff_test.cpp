#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/template_diff.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using tolvo::config::DiffFindings;
using tolvo::config::ProjectConfig;
using tolvo::platform::python_list_display;
using List = std::optional<std::vector<std::string>>;
using V = std::vector<std::string>;

struct ListCase
{
  List expected;
  List actual;
  bool reported;
};

class DiffLists : public ::testing::TestWithParam<ListCase>
{};

std::string shown(const List& list)
{
  return list ? python_list_display(*list) : "None";
}

TEST_P(DiffLists, ReportsOnlyMissingEntriesShowingBothListsWhole)
{
  const ListCase& c = GetParam();
  const std::optional<std::string> line = tolvo::config::diff_lists("tool.x.exclude", c.expected, c.actual);
  if (!c.reported) {
    EXPECT_EQ(line, std::nullopt);
  } else {
    EXPECT_EQ(line, "tool.x.exclude: expected " + shown(c.expected) + ", got " + shown(c.actual));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DiffLists,
                         ::testing::Values(ListCase{std::nullopt, std::nullopt, false},
                                           ListCase{V{}, std::nullopt, false}, ListCase{std::nullopt, V{"a"}, false},
                                           ListCase{V{"a", "b"}, V{"b", "a"}, false},
                                           ListCase{V{"a", "a"}, V{"a"}, false},
                                           ListCase{V{"a"}, V{"a", "extra"}, false},
                                           ListCase{V{"a", "b"}, V{"a"}, true}, ListCase{V{"a"}, std::nullopt, true},
                                           ListCase{V{"a"}, V{}, true}, ListCase{V{"it's"}, V{"x\\y"}, true}));

TEST(DiffListsDisplay, UsesPythonLiterals)
{
  EXPECT_EQ(tolvo::config::diff_lists("n", V{".venv", "it's"}, std::nullopt),
            "n: expected ['.venv', \"it's\"], got None");
}

std::string toml_array(const std::vector<std::string>& items)
{
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i > 0 ? ", \"" : "\"") + items[i] + "\"";
  }
  return text + "]";
}

/// Parts of a project's pyproject.toml; each is left out when empty, and
/// the template's own values stand in for those not given.
struct Project
{
  std::string requires_python = "requires-python = \">=3.11\"\n";
  std::string extras = "[project.optional-dependencies]\ntest = [\"pytest\"]\n";
  std::optional<std::vector<std::string>> build_requires;
  std::optional<std::string> backend;
  std::optional<std::vector<std::string>> pyright;
  std::optional<std::vector<std::string>> ruff;
  bool tool = true;
  bool pyright_table = true;

  std::string text(const ProjectConfig& templ) const
  {
    std::string t = "[project]\nname = \"p\"\nversion = \"1\"\n" + requires_python + extras;
    t += "[build-system]\nrequires = " + toml_array(build_requires.value_or(templ.build_system_requires())) +
         "\nbuild-backend = \"" + backend.value_or(templ.build_backend()) + "\"\n";
    if (tool) {
      t += "[tool]\n";
      if (pyright_table) {
        t += "[tool.pyright]\nexclude = " + toml_array(pyright.value_or(*templ.pyright_exclude())) + "\n";
      }
      t += "[tool.ruff]\nexclude = " + toml_array(ruff.value_or(*templ.ruff_exclude())) + "\n";
    }
    return t;
  }
};

class Diff : public ::testing::Test
{
protected:
  DiffFindings run(const Project& project)
  {
    std::istringstream stream(project.text(m_template));
    const ProjectConfig config(stream);
    DiffFindings findings;
    tolvo::config::diff(config, m_template, findings);
    return findings;
  }

  ProjectConfig m_template = tolvo::config::template_config();
};

TEST_F(Diff, MatchingProjectFindsNothing)
{
  const DiffFindings findings = run(Project{});
  EXPECT_EQ(findings.lines, V{});
  EXPECT_EQ(findings.status, 0);
}

TEST_F(Diff, ExtraEntriesInAnotherOrderAreFine)
{
  Project project;
  std::vector<std::string> pyright = *m_template.pyright_exclude();
  std::reverse(pyright.begin(), pyright.end());
  pyright.push_back("more");
  project.pyright = pyright;
  project.extras = "[project.optional-dependencies]\ndev = []\ntest = [\"pytest>=7\", \"x\"]\n";
  EXPECT_EQ(run(project).status, 0);
}

// How a project keeps its environment is its own choice, whatever the
// template says of it.
TEST_F(Diff, TheToolsOwnSettingsAreNoFinding)
{
  Project project;
  project.extras += "[tool.tolvo]\nrefresh = \"always\"\nsystem-site-packages = false\ntest-groups = [\"test\"]\n";
  EXPECT_EQ(run(project).lines, V{});
}

TEST_F(Diff, MissingRequiresPythonSkipsTestAndBuildChecks)
{
  Project project;
  project.requires_python = "";
  project.extras = "";
  project.build_requires = std::vector<std::string>{};
  project.ruff = std::vector<std::string>{};
  const DiffFindings findings = run(project);
  EXPECT_EQ(findings.lines,
            (V{"Error: 'pyproject.toml' does not specify a 'requires-python' value.",
               "tool.ruff.exclude: expected " + python_list_display(*m_template.ruff_exclude()) + ", got []"}));
  EXPECT_EQ(findings.status, 2);
}

TEST_F(Diff, TestGroupFindings)
{
  Project missing;
  missing.extras = "";
  EXPECT_EQ(run(missing).lines, V{"Error: 'test' optional dependency group is missing."});

  Project linux_only;
  linux_only.extras = "[project.optional-dependencies]\ntest = [\"pytest; sys_platform == 'linux'\"]\n";
  const DiffFindings findings = run(linux_only);
  EXPECT_EQ(findings.lines, V{"Error: pytest is not installed in the 'test' extras group."});
  EXPECT_EQ(findings.status, 1);
}

// A `test` dependency group stands for the extra; either one that installs
// pytest satisfies the point, and the extra's message wins when both fall short.
TEST_F(Diff, TestDependencyGroupCountsAsTheExtra)
{
  const std::string extra_without_pytest = "[project.optional-dependencies]\ntest = [\"coverage\"]\n";
  const std::vector<std::pair<std::string, V>> cases = {
    {"[dependency-groups]\ntest = [\"pytest>=8\"]\n", {}},
    {"[dependency-groups]\nTest = [{include-group = \"tools\"}]\ntools = [\"pytest\"]\n", {}},
    {extra_without_pytest + "[dependency-groups]\ntest = [\"pytest\"]\n", {}},
    {"[dependency-groups]\ntest = [\"coverage\"]\n",
     {"Error: pytest is not installed in the 'test' dependency group."}},
    {extra_without_pytest + "[dependency-groups]\ntest = [\"coverage\"]\n",
     {"Error: pytest is not installed in the 'test' extras group."}},
    {"[dependency-groups]\ntests = [\"pytest\"]\n", {"Error: 'test' optional dependency group is missing."}},
  };
  for (const auto& [groups, lines] : cases) {
    Project project;
    project.extras = groups;
    const DiffFindings findings = run(project);
    EXPECT_EQ(findings.lines, lines) << groups;
    EXPECT_EQ(findings.status, lines.empty() ? 0 : 1) << groups;
  }
  Project cycle;
  cycle.extras = "[dependency-groups]\ntest = [{include-group = \"test\"}]\n";
  EXPECT_THROW(run(cycle), tolvo::InvalidValue);
}

TEST_F(Diff, BuildFindingSetsCountToOne)
{
  Project project;
  project.extras = "";
  project.build_requires = std::vector<std::string>{"wheel"};
  project.backend = "flit_core.buildapi";
  project.pyright = std::vector<std::string>{};
  const DiffFindings findings = run(project);
  EXPECT_EQ(
    findings.lines,
    (V{"Error: 'test' optional dependency group is missing.",
       "build-system.requires: missing coverage for " + tolvo::platform::join(m_template.build_system_requires(), ", "),
       "build-system.build-backend: expected " + m_template.build_backend() + ", got flit_core.buildapi",
       "tool.pyright.exclude: expected " + python_list_display(*m_template.pyright_exclude()) + ", got []"}));
  // Missing group (1), reset to 1 by the build requirements and the backend,
  // plus the pyright list.
  EXPECT_EQ(findings.status, 2);
}

TEST_F(Diff, AbsentPyrightTableShownAsNone)
{
  Project project;
  project.pyright_table = false;
  const DiffFindings findings = run(project);
  EXPECT_EQ(findings.lines,
            V{"tool.pyright.exclude: expected " + python_list_display(*m_template.pyright_exclude()) + ", got None"});
  EXPECT_EQ(findings.status, 1);
}

TEST_F(Diff, NoToolTableFailsAfterEarlierFindings)
{
  Project project;
  project.tool = false;
  project.backend = "other";
  std::istringstream stream(project.text(m_template));
  const ProjectConfig config(stream);
  DiffFindings findings;
  EXPECT_THROW(tolvo::config::diff(config, m_template, findings), tolvo::MissingKeyError);
  EXPECT_EQ(findings.lines, V{"build-system.build-backend: expected " + m_template.build_backend() + ", got other"});
}

} // namespace
