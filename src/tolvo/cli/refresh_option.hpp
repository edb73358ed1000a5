#pragma once

// How the handlers learn how to keep the environment: the refresh mode from
// `--refresh` on the command line, else `tool.tolvo.refresh` of the
// project, else "always"; whether it sees the system site-packages from the
// project.

#include "tolvo/cli/parsed_arguments.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/venv/refresh_mode.hpp"
#include "tolvo/venv/virtual_environment.hpp"

#include <optional>

namespace tolvo::cli {

/// The mode for this run; `project` may be none (no pyproject.toml). An
/// unknown value in the project is a InvalidValue naming the key.
venv::RefreshMode refresh_mode(const ParsedArguments& args, const config::ProjectConfig* project);

/// Whether the environment sees the base interpreter's site-packages:
/// `tool.tolvo.system-site-packages` of the project, else true. A value
/// that is not a boolean is an AssertionFailure naming the key.
bool system_site_packages(const config::ProjectConfig* project);

/// Everything the command line and the project say of the environment.
venv::EnvironmentSettings environment_settings(const ParsedArguments& args, const config::ProjectConfig* project);

/// The project's configuration when a pyproject.toml governs the working
/// directory, none otherwise, for the commands that also work without one.
std::optional<config::ProjectConfig> find_project();

} // namespace tolvo::cli
