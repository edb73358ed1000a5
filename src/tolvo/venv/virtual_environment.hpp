#pragma once

// The project's virtual environment: its interpreter and pip, the install
// steps run quietly behind the spinner, and runs of its interpreter.

#include "tolvo/platform/process.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tolvo {

class VirtualEnvironment
{
public:
  /// Derives the paths, then creates the environment when it is missing
  /// and ensures and upgrades pip, every time.
  explicit VirtualEnvironment(const std::string& path);

  /// The absolute, normalised, symlink-resolved environment directory.
  std::string path;
  /// `path`/bin/python.
  std::string python;
  /// `path`/bin/pip.
  std::string pip;

  /// Whether the directory, its interpreter and its pip all exist.
  bool exists() const;

  void ensure() const;
  void ensure_pip() const;
  void ensure_build_tools() const;
  void ensure_test_tools() const;
  void ensure_lint_tools() const;
  /// Editable install of the project with `extras`, joined as given.
  void install(const std::vector<std::string>& extras) const;

  /// Runs the interpreter with `args`; `env` is added to the tool's own
  /// environment. Safe to call from several threads at once.
  platform::CompletedProcess run(const std::vector<std::string>& args,
                                 const std::optional<platform::Environment>& env = std::nullopt,
                                 bool chronic = false,
                                 bool capture_output = false) const;

  /// The pip argument list of `install`.
  std::vector<std::string> install_arguments(const std::vector<std::string>& extras) const;
};

/// The environment at ".venv" of the working directory, ensured.
VirtualEnvironment get_venv();

/// `path` made absolute, normalised, and resolved as far as it exists.
std::string resolve_environment_path(const std::string& path);

} // namespace tolvo
