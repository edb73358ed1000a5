#pragma once

// The project's virtual environment: its interpreter and pip, the install
// steps run quietly behind the spinner, and runs of its interpreter. In the
// when-needed refresh mode a step that the environment already satisfies
// is skipped with an "up to date" line, and a small record kept in the
// environment remembers what that judgement needs; the default mode runs
// every step and keeps no record. In either mode the steps take turns with
// those of any other tolvo under a lock file in the environment.

#include "tolvo/platform/process.hpp"
#include "tolvo/venv/install_steps.hpp"
#include "tolvo/venv/installer.hpp"
#include "tolvo/venv/refresh_mode.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
  /// Resolves the path and derives the other two; reads the file system,
  /// changes nothing (ensure_venv creates). The
  /// environment sees the base interpreter's site-packages when
  /// `system_site_packages`.
  explicit VirtualEnvironment(const std::string& given, RefreshMode mode = RefreshMode::always,
                              Installer installer = {}, bool system_site_packages = true);

  /// The absolute, normalised, symlink-resolved environment directory.
  std::string path;
  /// `path`/bin/python.
  std::string python;
  /// `path`/bin/pip: looked at, never run (pip runs as a module of `python`).
  std::string pip;

  /// Whether the directory, its interpreter and its pip all exist.
  bool exists() const;

  /// Creates the environment when it does not exist; an existing one is
  /// made to see the system site-packages or not, as asked.
  void ensure() const;
  /// Ensures pip is installed, then upgrades it: both every time, or when
  /// needed (pip missing; a new environment, pip just ensured, or the last
  /// upgrade over seven days ago). Nothing under uv, which needs no pip.
  void ensure_pip() const;
  void ensure_build_tools() const;
  /// The project with the extras and dependency groups of its test tools.
  void ensure_test_tools(const config::RequirementNames& tools) const;
  void ensure_lint_tools() const;
  /// Editable install of the project with `extras`, joined as given, and
  /// the dependency `groups`.
  void install(const std::vector<std::string>& extras, const std::vector<std::string>& groups = {}) const;

  /// The version of the distribution `name` installed in the environment's
  /// own site-packages, or none. Reads files only.
  std::optional<std::string> installed_version(std::string_view name) const;

  /// Runs the interpreter with `args`, after unlock(). Safe to call from
  /// several threads at once.
  platform::CompletedProcess run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

  /// Lets another tolvo change the environment. The first step that
  /// changes it takes the exclusive lock, which is held through the steps
  /// that follow until this is called, a run starts, or the object and its
  /// copies are gone; a later step takes it again.
  void unlock() const;

private:
  struct LockHolder;
  /// One holder per environment path in the process, so that two objects
  /// for one environment never wait for each other.
  static std::shared_ptr<LockHolder> lock_holder(const std::string& path);

  /// Holds the environment's lock, waiting for it if need be.
  void lock() const;
  void run_step(const InstallStep& step) const;
  InstallCommand install_command() const { return m_installer.install_command(python); }
  /// Runs `step` behind the spinner, or shows it as up to date.
  void run_or_skip(const InstallStep& step, bool satisfied) const;

  RefreshMode m_mode;
  std::shared_ptr<LockHolder> m_lock;
  Installer m_installer;
  bool m_system_site_packages;
};

/// How a command wants the environment kept, from its command line and the
/// project's settings.
struct EnvironmentSettings
{
  RefreshMode refresh = RefreshMode::always;
  /// Whether the environment sees the base interpreter's site-packages.
  bool system_site_packages = true;
  InstallerKind installer = InstallerKind::pip;
};

/// The environment at ".venv" of the working directory, created when
/// missing (or set to see the system site-packages as asked), with pip
/// ensured and upgraded as the refresh mode says; the installer is found
/// first, so that a missing one leaves everything untouched.
VirtualEnvironment ensure_venv(const EnvironmentSettings& settings = {});

/// `path` made absolute, normalised, and resolved as far as it exists.
std::string resolve_environment_path(const std::string& path);

} // namespace tolvo::venv
