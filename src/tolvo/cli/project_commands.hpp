#pragma once

// The everyday commands: requirements, test and status.

#include "tolvo/cli/handlers.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/requirement_names.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tolvo::cli {

using config::classify_requirement_names;
using config::RequirementNames;
using config::validate_extras;

/// Whether `directory` holds a project pip can install: a pyproject.toml,
/// setup.py or setup.cfg.
bool holds_project(const std::filesystem::path& directory);

/// The interpreter's arguments of a local test run: pytest, verbose, on
/// `path` when given, else on "tests/" when `tests_directory` (it is
/// there), else on nothing, so that pytest's own configuration (testpaths)
/// or discovery decides; then `passed`, as given.
std::vector<std::string> pytest_arguments(const std::optional<std::string>& path, bool tests_directory,
                                          const std::vector<std::string>& passed);

int cmd_requirements(const ParsedArguments& args, const Parser& parser);
int cmd_test(const ParsedArguments& args, const Parser& parser);
int cmd_status(const ParsedArguments& args, const Parser& parser);

} // namespace tolvo::cli
