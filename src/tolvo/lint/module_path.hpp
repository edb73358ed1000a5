#pragma once

// Where the separately started `tolvo` of the config-diff check finds this
// tool's own files.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvo::lint {

/// The directory put first in PYTHONPATH for the "tolvo" check: for an
/// installed wheel the site-packages directory holding the `tolvo`
/// package, for a build-tree executable the repository's `python` directory
/// holding the package sources. Found from /proc/self/exe on first use.
const std::string& tool_module_path();

/// What tool_module_path is for an executable at `exe`.
std::string module_path_for_executable(const std::filesystem::path& exe);

/// `module_path` followed by the parts of `existing` (empty when unset), joined by ":".
std::string lint_pythonpath(std::string_view module_path, const std::optional<std::string>& existing);

} // namespace tolvo::lint
