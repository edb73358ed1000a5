#pragma once

// Whether one list of requirements covers another: same distribution, at
// least the extras, at least the minimum version, applying wherever the
// expected one applies on linux, darwin and win32.

#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/config/packaging/specifier.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvo {

/// Text forms of the `expected` requirements no `actual` one covers.
std::vector<std::string> requirements_not_satisfied_by(const std::vector<std::string>& expected,
                                                       const std::vector<std::string>& actual,
                                                       const std::string& requires_python);

bool _specifier_covers(const SpecifierSet& exp_spec, const SpecifierSet& act_spec);

/// Version text of the first ">=" or "==" member.
std::optional<std::string> _get_min_version(const SpecifierSet& spec);

bool _marker_covers(const std::optional<Marker>& exp_marker, const std::optional<Marker>& act_marker,
                    const std::string& requires_python);

/// One environment per platform (linux, darwin, win32) at the minimum Python.
std::vector<std::map<std::string, std::string>> _generate_marker_environments(const std::string& requires_python);

} // namespace tolvo
