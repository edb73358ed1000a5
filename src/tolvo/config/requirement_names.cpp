#include "tolvo/config/requirement_names.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <set>

namespace tolvo::config {

namespace {

// std::set<std::string> orders by bytes, which for UTF-8 is code point order.
std::string sorted_list(const std::set<std::string>& names)
{
  return platform::join({names.begin(), names.end()}, ", ");
}

std::set<std::string> extra_names(const ProjectConfig& config)
{
  std::set<std::string> names;
  if (const std::optional<Extras> groups = config.extras()) {
    for (const ExtraGroup& group : *groups) {
      names.insert(group.name);
    }
  }
  return names;
}

} // namespace

std::vector<std::string> validate_extras(const ProjectConfig& config, const std::vector<std::string>& extras)
{
  const std::set<std::string> available = extra_names(config);
  for (const std::string& name : extras) {
    if (available.count(name) == 0) {
      throw InvalidValue("Unknown extra '" + name + "'. Available: " + sorted_list(available));
    }
  }
  return extras;
}

RequirementNames classify_requirement_names(const ProjectConfig& config, const std::vector<std::string>& names)
{
  const std::optional<DependencyGroups> groups = config.dependency_groups();
  if (!groups) {
    return {validate_extras(config, names), {}};
  }
  const std::set<std::string> extras = extra_names(config);
  RequirementNames classified;
  for (const std::string& name : names) {
    if (extras.count(name) != 0) {
      classified.extras.push_back(name);
    } else if (find_dependency_group(*groups, name) != nullptr) {
      classified.groups.push_back(name);
    } else {
      std::set<std::string> group_names;
      for (const DependencyGroup& group : *groups) {
        group_names.insert(group.name);
      }
      throw InvalidValue("Unknown extra or dependency group '" + name + "'. Extras: " + sorted_list(extras) +
                         ". Dependency groups: " + sorted_list(group_names));
    }
  }
  return classified;
}

} // namespace tolvo::config
