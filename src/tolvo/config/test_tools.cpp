#include "tolvo/config/test_tools.hpp"

namespace tolvo::config {

RequirementNames test_tool_names(const ProjectConfig* project)
{
  RequirementNames test_extra{{"test"}, {}};
  if (project == nullptr) {
    return test_extra;
  }
  if (const std::optional<std::vector<std::string>> named = project->test_groups()) {
    return classify_requirement_names(*project, *named);
  }
  if (project->has_extra("test")) {
    return test_extra;
  }
  if (const std::optional<DependencyGroups> groups = project->dependency_groups()) {
    for (std::string_view candidate : TEST_GROUP_CANDIDATES) {
      if (find_dependency_group(*groups, candidate) != nullptr) {
        return {{}, {std::string(candidate)}};
      }
    }
  }
  // Nothing says where they are: the extra is asked for, and the
  // installer's own warning tells what is missing.
  return test_extra;
}

} // namespace tolvo::config
