#pragma once

// Checking the optional-dependency groups named on the command line.

#include "tolvo/config/pyproject.hpp"

#include <string>
#include <vector>

namespace tolvo::cli {

/// Returns `extras` unchanged when the project defines every name; throws
/// ValueError "Unknown extra '<name>'. Available: <sorted names>" at the
/// first name it does not.
std::vector<std::string> validate_extras(const ProjectConfig& config, const std::vector<std::string>& extras);

} // namespace tolvo::cli
