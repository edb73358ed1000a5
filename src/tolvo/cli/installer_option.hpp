#pragma once

// How the handlers learn the installer: `--installer` on the command line,
// else `tool.tolvo.installer` of the project, else pip.

#include "tolvo/cli/parsed_arguments.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/venv/installer.hpp"

namespace tolvo::cli {

/// The installer for this run; `project` may be none (no pyproject.toml). An
/// unknown value in the project is a InvalidValue naming the key.
venv::InstallerKind installer_kind(const ParsedArguments& args, const config::ProjectConfig* project);

} // namespace tolvo::cli
