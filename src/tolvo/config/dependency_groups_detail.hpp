#pragma once

// Reading the [dependency-groups] table out of the parsed document.
// Internal to the configuration layer: the pyproject reader calls it.

#include "tolvo/config/dependency_groups.hpp"
#include "tolvo/config/toml.hpp"

namespace tolvo::config {

/// The groups of `table` (the value of `dependency-groups`) in document
/// order. A group that is not an array fails with AssertionFailure; items
/// are checked only when a group is resolved.
DependencyGroups read_dependency_groups(const toml::table& table);

} // namespace tolvo::config
