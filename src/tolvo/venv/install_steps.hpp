#pragma once

// The installation steps of the virtual environment as plain values: what
// the user is shown and the argument list that runs. Deciding them does no
// I/O; VirtualEnvironment runs them.

#include <string>
#include <vector>

namespace tolvo::venv {

/// One quiet step behind the spinner.
struct InstallStep
{
  std::string action;
  std::vector<std::string> args;

  bool operator==(const InstallStep&) const = default;
};

/// The base "python" makes the environment at the absolute `path`.
InstallStep creation_step(const std::string& path);

/// "Ensuring pip is installed" with the environment's `python`.
InstallStep ensure_pip_step(const std::string& python);

/// "Upgrading pip" with the environment's `pip`.
InstallStep upgrade_pip_step(const std::string& pip);

/// The build front end and wheel.
InstallStep build_tools_step(const std::string& pip);

/// The project in editable mode with its "test" extra.
InstallStep test_tools_step(const std::string& pip);

/// The lint tools (vulture too, which lint does not run).
InstallStep lint_tools_step(const std::string& pip);

/// The project in editable mode with `extras`, joined with "," as given.
InstallStep requirements_step(const std::string& pip, const std::vector<std::string>& extras);

} // namespace tolvo::venv
