#pragma once

// The config-diff check: the project's pyproject.toml against tolvo's own
// project template, on a fixed list of points. Findings go to standard
// output, one line each.

#include <optional>
#include <string>
#include <vector>

namespace tolvo {

/// The values the template is filled with for the comparison; only the
/// build-system and tool tables of the result matter.
inline constexpr const char* DIFF_PLACEHOLDER_VALUE = "x";

/// Compares the pyproject.toml found from the working directory upward with
/// the filled template: requires-python, the test group with pytest, build
/// requirement coverage, the build backend, the pyright and ruff exclude
/// lists. Returns 0 when nothing was found, otherwise 1 to 3 (a build
/// finding resets the count of earlier ones to 1). Errors of either
/// document propagate after the lines already printed.
int diff();

/// Prints "<name>: expected [...], got [...]" and returns 1 when `expected`
/// holds an entry that `actual` lacks (an absent list counts as empty and is
/// shown as None); returns 0 and prints nothing otherwise.
int _diff_lists(const std::string& name, const std::optional<std::vector<std::string>>& expected,
                const std::optional<std::vector<std::string>>& actual);

} // namespace tolvo
