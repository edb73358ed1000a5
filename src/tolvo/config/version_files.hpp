#pragma once

// Where the build back ends read a dynamic version from, by their own
// settings in pyproject.toml.

#include "tolvo/config/toml.hpp"

#include <string>
#include <vector>

namespace tolvo::config {

/// The files, relative to the project, that hatch's and pdm's `path`,
/// setuptools' `file`, and the module of setuptools' `attr` or of a flit
/// project name in the pyproject.toml `root`; each module in every place it
/// may be (top level or `src/`, a module file or a package).
std::vector<std::string> dynamic_version_files(const toml::table& root);

} // namespace tolvo::config
