#pragma once

// The lint command: installs the lint tools and the project, runs the five
// checks at once on a pool of five worker threads while the main thread
// alone animates the display, then reports PASS or FAIL per check.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/platform/terminal.hpp"
#include "tolvo/venv/virtual_environment.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::lint {

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

/// The five checks in display order. ruff's "check" is followed by "--fix"
/// when `fix`, otherwise by "--no-fix", so that a `fix = true` in the
/// project's own ruff settings never rewrites a file unasked.
std::vector<LintTool> lint_tool_table(bool fix);

/// The labels that `tool.tolvo.lint-skip` names, in table order. A name
/// that is no check's label throws InvalidValue listing the labels.
std::vector<std::string> skipped_checks(const config::ProjectConfig& config);

/// "pyroma: skipped", no line break.
std::string lint_skipped_line(std::string_view label);

/// The project's groups among "test", "dev" and "lint", in the project's order.
std::vector<std::string> lint_install_extras(const std::optional<config::Extras>& extras);

/// The project's dependency groups named "test", "dev" or "lint" once
/// normalised, as written, in the project's order.
std::vector<std::string> lint_install_groups(const std::optional<config::DependencyGroups>& groups);

/// The worker task of one check; a non-zero code is a result, not an error.
/// Throws StartError when the program cannot be started.
LintResult run_check(const venv::VirtualEnvironment& venv, const std::string& tool,
                     const std::vector<std::string>& args);

/// Runs the whole lint command; returns the number of failed checks. The
/// checks of skipped_checks are not run and count as no failure.
int run_lint(const venv::VirtualEnvironment& venv, const config::ProjectConfig& config, bool fix = false,
             const platform::ConsoleStreams& console = platform::standard_console());

} // namespace tolvo::lint
