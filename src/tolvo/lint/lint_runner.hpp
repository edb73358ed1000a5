#pragma once

// The lint command: installs the lint tools and the project, runs the five
// checks at once on a pool of five worker threads while the main thread
// alone animates the display, then reports PASS or FAIL per check.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/venv/virtual_environment.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo {

/// The directory put first in PYTHONPATH for the "tolvo" check, so that the
/// separately started `tolvo` finds this tool's own files: for an installed
/// wheel the site-packages directory holding the `tolvo` package, for a
/// build-tree executable the repository's `python` directory holding the
/// package sources. Fixed once at start-up from /proc/self/exe.
extern const std::string MODULE_PATH;

/// What a check ended with.
struct LintResult
{
  int returncode = 0;
  std::string stdout_text;
  std::string stderr_text;
};

/// One entry of the tool table: the label names the program and keys its result.
struct LintTool
{
  std::string label;
  std::vector<std::string> args;
};

/// One line of the live display: the check's code once it has finished.
struct LintLineState
{
  std::string label;
  std::optional<int> returncode;
};

/// The five checks in display order; "--fix" follows ruff's "check" when `fix`.
std::vector<LintTool> lint_tool_table(bool fix);

/// The project's groups among "test", "dev" and "lint", in the project's order.
std::vector<std::string> lint_install_extras(const std::optional<Extras>& extras);

/// "ruff: PASS" or "dodgy: FAIL (1)", no line break.
std::string lint_result_line(std::string_view label, int returncode);

/// One drawing of the display: a line per check, each ending in a line break;
/// running checks show the spinner frame `frame_index`.
std::string lint_progress_lines(const std::vector<LintLineState>& states, std::size_t frame_index);

/// `module_path` followed by the parts of `existing` (empty when unset), joined by ":".
std::string lint_pythonpath(std::string_view module_path, const std::optional<std::string>& existing);

/// MODULE_PATH for an executable at `exe` (see MODULE_PATH).
std::string module_path_for_executable(const std::filesystem::path& exe);

/// The worker task of one check; a non-zero code is a result, not an error.
/// Throws StartError when the program cannot be started.
LintResult run_lint_async(const VirtualEnvironment& venv, const std::string& tool, const std::vector<std::string>& args);

/// Runs the whole lint command; returns the number of failed checks.
int run_lint(const VirtualEnvironment& venv, const ProjectConfig& config, bool fix = false);

} // namespace tolvo
