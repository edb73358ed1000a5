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

int cmd_requirements(const Namespace& args, const Parser& parser);
int cmd_test(const Namespace& args, const Parser& parser);
int cmd_status(const Namespace& args, const Parser& parser);

} // namespace tolvo::cli
