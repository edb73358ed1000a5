#pragma once

// The installation steps of the virtual environment as plain values: what
// the user is shown, the argument list that runs and what it installs.
// Deciding them does no I/O; VirtualEnvironment runs them. The package
// steps take the installer's command up to the packages
// (Installer::install_command), the same targets under either installer.

#include "tolvo/config/requirement_names.hpp"
#include "tolvo/venv/installer.hpp"

#include <string>
#include <utility>
#include <vector>

namespace tolvo::venv {

/// What an install step puts into the environment, so that the when-needed
/// refresh can judge whether the environment already holds it.
struct InstallTarget
{
  /// The project in the working directory, in editable mode...
  bool project = false;
  /// ...with these optional-dependency groups...
  std::vector<std::string> extras;
  /// ...and these dependency groups.
  std::vector<std::string> groups;
  /// Requirement strings of tools installed beside the project.
  std::vector<std::string> packages;

  bool empty() const { return !project && packages.empty(); }
  bool operator==(const InstallTarget&) const = default;
};

/// One quiet step behind the spinner.
struct InstallStep
{
  InstallStep(std::string action_text, std::vector<std::string> arguments, InstallTarget installs = {})
    : action(std::move(action_text)),
      args(std::move(arguments)),
      target(std::move(installs))
  {}

  std::string action;
  std::vector<std::string> args;
  /// Empty for the steps that make the environment and its pip.
  InstallTarget target;

  bool operator==(const InstallStep&) const = default;
};

/// The argument list up to the packages, such as "/p/.venv/bin/python",
/// "-m", "pip", "install".
using InstallCommand = std::vector<std::string>;

/// Makes the environment at the absolute `path`: the base "python" with
/// its venv module, or uv with pip seeded (so that the environment keeps
/// its pip for the user) from the base interpreter found beforehand.
InstallStep creation_step(const std::string& path, const Installer& installer = {}, bool system_site_packages = true);

/// "Ensuring pip is installed" with the environment's `python`.
InstallStep ensure_pip_step(const std::string& python);

/// "Upgrading pip".
InstallStep upgrade_pip_step(const InstallCommand& install);

/// The build front end and wheel.
InstallStep build_tools_step(const InstallCommand& install);

/// The project in editable mode with the extras and dependency groups that
/// hold its test tools (config::test_tool_names): what runs and what is
/// judged both come from `tools`.
InstallStep test_tools_step(const InstallCommand& install, const config::RequirementNames& tools);

/// The lint tools (vulture too, which lint does not run).
InstallStep lint_tools_step(const InstallCommand& install);

/// The project in editable mode with `extras`, joined with "," as given,
/// and each of `groups` as "--group NAME", in order.
InstallStep requirements_step(const InstallCommand& install, const std::vector<std::string>& extras,
                              const std::vector<std::string>& groups = {});

} // namespace tolvo::venv
