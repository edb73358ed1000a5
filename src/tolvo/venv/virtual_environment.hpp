#pragma once

// The project's virtual environment: its interpreter and pip, the install
// steps run quietly behind the spinner, and runs of its interpreter.

#include "tolvo/platform/process.hpp"
#include "tolvo/venv/install_steps.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tolvo::venv {

/// How `VirtualEnvironment::run` runs the interpreter.
struct RunOptions
{
  /// Variables added to (and overriding) the tool's own environment.
  std::optional<platform::Environment> env;
  /// Quiet mode: output captured, shown and raised as CalledProcessError
  /// only when the run fails.
  bool chronic = false;
  /// Capture the output instead of letting it reach the terminal (open mode).
  bool capture_output = false;
};

class VirtualEnvironment
{
public:
  /// Derives the three paths; touches nothing (get_venv ensures).
  explicit VirtualEnvironment(const std::string& path);

  /// The absolute, normalised, symlink-resolved environment directory.
  std::string path;
  /// `path`/bin/python.
  std::string python;
  /// `path`/bin/pip.
  std::string pip;

  /// Whether the directory, its interpreter and its pip all exist.
  bool exists() const;

  /// Creates the environment when it does not exist.
  void ensure() const;
  /// Ensures pip is installed, then upgrades it; both every time.
  void ensure_pip() const;
  void ensure_build_tools() const;
  void ensure_test_tools() const;
  void ensure_lint_tools() const;
  /// Editable install of the project with `extras`, joined as given.
  void install(const std::vector<std::string>& extras) const;

  /// Runs the interpreter with `args`. Safe to call from several threads
  /// at once.
  platform::CompletedProcess run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

private:
  void run_step(const InstallStep& step) const;
};

/// The environment at ".venv" of the working directory, created when
/// missing, with pip ensured and upgraded.
VirtualEnvironment get_venv();

/// `path` made absolute, normalised, and resolved as far as it exists.
std::string resolve_environment_path(const std::string& path);

} // namespace tolvo::venv
