#pragma once

// Which program installs into the environment: pip, run by the
// environment's own interpreter (the default), or uv, which makes the
// environment too and needs no pip steps of its own.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::venv {

enum class InstallerKind
{
  pip,
  uv,
};

/// "pip" or "uv"; InvalidValue naming `origin` and the value otherwise.
InstallerKind parse_installer(std::string_view text, std::string_view origin);

/// The installer of one run, with what it needs found beforehand.
struct Installer
{
  InstallerKind kind = InstallerKind::pip;
  /// uv's path; empty for pip.
  std::string uv;
  /// The base interpreter uv makes the environment with, as found on PATH;
  /// empty for pip, whose creation starts "python" by name.
  std::string base_python;

  /// The argument list up to the packages, installing into the environment
  /// of `python`: `python` -m pip install, or uv pip install --python `python`.
  /// pip runs as a module, never through the environment's pip script, whose
  /// shebang may name another environment (a copied project).
  std::vector<std::string> install_command(const std::string& python) const;

  bool operator==(const Installer&) const = default;
};

/// uv on `search_path`, else in `own_directory` (where an install of tolvo
/// with its uv extra puts it); none when in neither.
std::optional<std::string> find_uv(const std::string& search_path, const std::string& own_directory);

/// The installer of `kind`, uv and the base interpreter looked up now, so
/// that a missing one stops the run before anything is created: uv missing
/// is a PreconditionFailure saying how to install it, python missing the
/// StartError of a program that cannot be run.
Installer find_installer(InstallerKind kind);

} // namespace tolvo::venv
