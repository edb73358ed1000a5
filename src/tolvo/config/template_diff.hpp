#pragma once

// The config-diff check: the project's pyproject.toml against tolvo's own
// project template, on a fixed list of points. Deciding the findings does
// no I/O; the command prints them.

#include "tolvo/config/pyproject.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tolvo::config {

/// The value every placeholder of the template gets for the comparison;
/// only the build-system and tool tables of the result matter.
inline constexpr const char* DIFF_PLACEHOLDER_VALUE = "x";

/// What the comparison found: one line per finding (no line breaks) and
/// the exit status.
struct DiffFindings
{
  std::vector<std::string> lines;
  int status = 0;
};

/// The project template filled with DIFF_PLACEHOLDER_VALUE, parsed from
/// memory.
ProjectConfig template_config();

/// Compares `project` with `templ`: requires-python, the test group with
/// pytest (a `test` extra or a `test` dependency group), build requirement
/// coverage, the build backend, the pyright and ruff exclude lists. The
/// status is 0 when nothing was found, otherwise 1 to 3 (a build finding
/// resets the count of earlier ones to 1). An error of either document
/// propagates with the lines found before it in `findings`.
void diff(const ProjectConfig& project, const ProjectConfig& templ, DiffFindings& findings);

/// "<name>: expected [...], got [...]" when `expected` holds an entry that
/// `actual` lacks (an absent list counts as empty and is shown as None).
std::optional<std::string> diff_lists(const std::string& name, const std::optional<std::vector<std::string>>& expected,
                                      const std::optional<std::vector<std::string>>& actual);

} // namespace tolvo::config
