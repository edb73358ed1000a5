#include "tolvo/config/template_diff.hpp"

#include "tolvo/config/coverage.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/template.hpp"
#include "tolvo/platform/python_repr.hpp"

#include <algorithm>
#include <iostream>
#include <set>
#include <sstream>

namespace tolvo {

namespace {

constexpr const char* TEMPLATE_NAME = "pyproject.toml.tpl";

std::string display(const std::optional<std::vector<std::string>>& list)
{
  return list ? platform::python_list_display(*list) : std::string("None");
}

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

std::string join(const std::vector<std::string>& items, const std::string& separator)
{
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      joined += separator;
    }
    joined += items[i];
  }
  return joined;
}

} // namespace

int _diff_lists(const std::string& name, const std::optional<std::vector<std::string>>& expected,
                const std::optional<std::vector<std::string>>& actual)
{
  const std::vector<std::string> none;
  const std::vector<std::string>& expected_items = expected ? *expected : none;
  const std::set<std::string> actual_items = actual
    ? std::set<std::string>(actual->begin(), actual->end())
    : std::set<std::string>();
  const bool lacking =
    std::any_of(expected_items.begin(), expected_items.end(),
                [&](const std::string& item) { return actual_items.count(item) == 0; });
  if (!lacking) {
    return 0;
  }
  std::cout << name << ": expected " << display(expected) << ", got " << display(actual) << '\n';
  return 1;
}

int diff()
{
  const ProjectConfig templ = template_config();
  const ProjectConfig project;

  int failed = 0;
  const std::optional<std::string> requires_python = project.requires_python();
  if (!requires_python) {
    std::cout << "Error: 'pyproject.toml' does not specify a 'requires-python' value.\n";
    failed += 1;
  } else {
    const std::optional<Extras> extras = project.extras();
    const auto test_group =
      extras ? std::find_if(extras->begin(), extras->end(),
                            [](const ExtraGroup& group) { return group.name == "test"; })
             : Extras::const_iterator();
    if (!extras || test_group == extras->end()) {
      std::cout << "Error: 'test' optional dependency group is missing.\n";
      failed += 1;
    } else if (!requirements_not_satisfied_by({"pytest"}, test_group->requirements,
                                              *requires_python)
                  .empty()) {
      std::cout << "Error: pytest is not installed in the 'test' extras group.\n";
      failed += 1;
    }

    const std::vector<std::string> missing = requirements_not_satisfied_by(
      templ.build_system_requires(), project.build_system_requires(), *requires_python);
    if (!missing.empty()) {
      std::cout << "build-system.requires: missing coverage for " << join(missing, ", ") << '\n';
      // One build finding stands for all earlier ones.
      failed = 1;
    }
  }

  const std::string expected_backend = templ.build_backend();
  const std::string actual_backend = project.build_backend();
  if (expected_backend != actual_backend) {
    std::cout << "build-system.build-backend: expected " << expected_backend << ", got "
              << actual_backend << '\n';
    failed = 1;
  }

  failed += _diff_lists("tool.pyright.exclude", templ.pyright_exclude(), project.pyright_exclude());
  failed += _diff_lists("tool.ruff.exclude", templ.ruff_exclude(), project.ruff_exclude());
  std::cout.flush();
  return failed;
}

} // namespace tolvo
