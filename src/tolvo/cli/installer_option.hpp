#pragma once

// How the handlers learn the installer: `--installer` on the command line,
// else `tool.tolvo.installer` of the project, else pip.

#include "tolvo/cli/namespace.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/venv/installer.hpp"

namespace tolvo::cli {

/// The installer for this run; `project` may be none (no pyproject.toml). An
/// unknown value in the project is a ValueError naming the key.
venv::InstallerKind installer_kind(const Namespace& args, const config::ProjectConfig* project);

} // namespace tolvo::cli
