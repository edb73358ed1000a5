#pragma once

// The names an install of the project is asked for, checked against what
// the project defines: its optional-dependency groups (extras) and, when
// it has them, its dependency groups.

#include "tolvo/config/pyproject.hpp"

#include <string>
#include <vector>

namespace tolvo::config {

/// Returns `extras` unchanged when the project defines every name; throws
/// InvalidValue "Unknown extra '<name>'. Available: <sorted names>" at the
/// first name it does not.
std::vector<std::string> validate_extras(const ProjectConfig& config, const std::vector<std::string>& extras);

/// Names split by what they name.
struct RequirementNames
{
  std::vector<std::string> extras;
  std::vector<std::string> groups;

  bool operator==(const RequirementNames&) const = default;
};

/// Each name as an extra when the project has an extra of exactly that
/// name, else as a dependency group when it has one of that normalised
/// name; order and repeats kept. Without a [dependency-groups] table this
/// is validate_extras. An unknown name throws InvalidValue listing the
/// extras and the dependency groups, each sorted.
RequirementNames classify_requirement_names(const ProjectConfig& config, const std::vector<std::string>& names);

} // namespace tolvo::config
