#pragma once

// The steps of requirement coverage, apart so that each can be tested on its
// own. Internal to the configuration layer: use coverage.hpp.

#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/config/packaging/specifier.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tolvo::config {

/// Whether the minimum version (or pin) of `act_spec` meets that of `exp_spec`.
bool specifier_covers(const SpecifierSet& exp_spec, const SpecifierSet& act_spec);

/// Version text of the first ">=" or "==" member.
std::optional<std::string> minimum_version(const SpecifierSet& spec);

/// Whether `act_marker` holds wherever `exp_marker` does, on the three
/// platforms at the minimum Python of `requires_python`.
bool marker_covers(const std::optional<Marker>& exp_marker, const std::optional<Marker>& act_marker,
                   const std::string& requires_python);

/// One environment per platform (linux, darwin, win32) at the minimum Python.
std::vector<MarkerEnvironment> generate_marker_environments(const std::string& requires_python);

} // namespace tolvo::config
