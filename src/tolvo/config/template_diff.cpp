#include "tolvo/config/template_diff.hpp"

#include "tolvo/config/coverage.hpp"
#include "tolvo/config/template.hpp"
#include "tolvo/platform/python_repr.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <set>
#include <sstream>

namespace tolvo::config {

namespace {

constexpr const char* TEMPLATE_NAME = "pyproject.toml.tpl";

std::string display(const std::optional<std::vector<std::string>>& list)
{
  return list ? platform::python_list_display(*list) : std::string("None");
}

void add(DiffFindings& findings, std::string line, int count)
{
  findings.lines.push_back(std::move(line));
  findings.status += count;
}

bool installs_pytest(const std::vector<std::string>& requirements, const std::string& requires_python)
{
  return requirements_not_satisfied_by({"pytest"}, requirements, requires_python).empty();
}

// The tests' dependencies as a `test` extra or a `test` dependency group:
// either one that installs pytest will do. The groups are read only when
// the extra falls short, so a project with a good extra is judged as before.
std::optional<std::string> test_group_finding(const ProjectConfig& project, const std::string& requires_python)
{
  const std::optional<Extras> extras = project.extras();
  const auto extra =
    extras ? std::find_if(extras->begin(), extras->end(), [](const ExtraGroup& group) { return group.name == "test"; })
           : Extras::const_iterator();
  const bool has_extra = extras && extra != extras->end();
  if (has_extra && installs_pytest(extra->requirements, requires_python)) {
    return std::nullopt;
  }
  const std::optional<DependencyGroups> groups = project.dependency_groups();
  const bool has_group = groups && find_dependency_group(*groups, "test") != nullptr;
  if (has_group && installs_pytest(resolve_dependency_group(*groups, "test"), requires_python)) {
    return std::nullopt;
  }
  if (has_extra) {
    return "Error: pytest is not installed in the 'test' extras group.";
  }
  if (has_group) {
    return "Error: pytest is not installed in the 'test' dependency group.";
  }
  return "Error: 'test' optional dependency group is missing.";
}

} // namespace

ProjectConfig template_config()
{
  const TemplateValues values{
    {"name", DIFF_PLACEHOLDER_VALUE},         {"description", DIFF_PLACEHOLDER_VALUE},
    {"author_name", DIFF_PLACEHOLDER_VALUE},  {"author_email", DIFF_PLACEHOLDER_VALUE},
    {"license_spdx", DIFF_PLACEHOLDER_VALUE}, {"python_version", DIFF_PLACEHOLDER_VALUE},
  };
  // Parsed from memory: the comparison never writes a file.
  std::istringstream stream(fill_template(TEMPLATE_NAME, read_template(TEMPLATE_NAME), values));
  return ProjectConfig(stream);
}

std::optional<std::string> diff_lists(const std::string& name, const std::optional<std::vector<std::string>>& expected,
                                      const std::optional<std::vector<std::string>>& actual)
{
  const std::vector<std::string> none;
  const std::vector<std::string>& expected_items = expected ? *expected : none;
  const std::set<std::string> actual_items =
    actual ? std::set<std::string>(actual->begin(), actual->end()) : std::set<std::string>();
  const bool lacking = std::any_of(expected_items.begin(), expected_items.end(),
                                   [&](const std::string& item) { return actual_items.count(item) == 0; });
  if (!lacking) {
    return std::nullopt;
  }
  return name + ": expected " + display(expected) + ", got " + display(actual);
}

void diff(const ProjectConfig& project, const ProjectConfig& templ, DiffFindings& findings)
{
  const std::optional<std::string> requires_python = project.requires_python();
  if (!requires_python) {
    add(findings, "Error: 'pyproject.toml' does not specify a 'requires-python' value.", 1);
  } else {
    if (const std::optional<std::string> line = test_group_finding(project, *requires_python)) {
      add(findings, *line, 1);
    }

    const std::vector<std::string> missing =
      requirements_not_satisfied_by(templ.build_system_requires(), project.build_system_requires(), *requires_python);
    if (!missing.empty()) {
      findings.lines.push_back("build-system.requires: missing coverage for " + platform::join(missing, ", "));
      // One build finding stands for all earlier ones.
      findings.status = 1;
    }
  }

  const std::string expected_backend = templ.build_backend();
  const std::string actual_backend = project.build_backend();
  if (expected_backend != actual_backend) {
    findings.lines.push_back("build-system.build-backend: expected " + expected_backend + ", got " + actual_backend);
    findings.status = 1;
  }

  if (auto line = diff_lists("tool.pyright.exclude", templ.pyright_exclude(), project.pyright_exclude())) {
    add(findings, std::move(*line), 1);
  }
  if (auto line = diff_lists("tool.ruff.exclude", templ.ruff_exclude(), project.ruff_exclude())) {
    add(findings, std::move(*line), 1);
  }
}

} // namespace tolvo::config
