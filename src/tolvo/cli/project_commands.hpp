#pragma once

// The everyday commands: requirements, test and status.

#include "tolvo/cli/handlers.hpp"
#include "tolvo/config/pyproject.hpp"

#include <string>
#include <vector>

namespace tolvo::cli {

/// Returns `extras` unchanged when the project defines every name; throws
/// ValueError "Unknown extra '<name>'. Available: <sorted names>" at the
/// first name it does not.
std::vector<std::string> validate_extras(const config::ProjectConfig& config, const std::vector<std::string>& extras);

/// The names given to `requirements`, split by what they name.
struct RequirementNames
{
  std::vector<std::string> extras;
  std::vector<std::string> groups;
};

/// Each name as an extra when the project has an extra of exactly that
/// name, else as a dependency group when it has one of that normalised
/// name; order and repeats kept. Without a [dependency-groups] table this
/// is validate_extras. An unknown name throws ValueError listing the
/// extras and the dependency groups, each sorted.
RequirementNames classify_requirement_names(const config::ProjectConfig& config, const std::vector<std::string>& names);

/// Whether the test tools come from the "test" dependency group: the
/// project has one and no "test" extra.
bool test_tools_from_group(const config::ProjectConfig& config);

int cmd_requirements(const Namespace& args, const Parser& parser);
int cmd_test(const Namespace& args, const Parser& parser);
int cmd_status(const Namespace& args, const Parser& parser);

} // namespace tolvo::cli
