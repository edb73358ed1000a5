#pragma once

// Whether one list of requirements covers another: same distribution, at
// least the extras, at least the minimum version, applying wherever the
// expected one applies on linux, darwin and win32.

#include <string>
#include <vector>

namespace tolvo::config {

/// Text forms of the `expected` requirements no `actual` one covers.
std::vector<std::string> requirements_not_satisfied_by(const std::vector<std::string>& expected,
                                                       const std::vector<std::string>& actual,
                                                       const std::string& requires_python);

} // namespace tolvo::config
