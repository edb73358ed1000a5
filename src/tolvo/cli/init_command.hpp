#pragma once

// The init command: a new project scaffolded from the built-in templates.

#include "tolvo/cli/handlers.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tolvo::cli {

/// `value` when given and not empty; otherwise, when standard input is a
/// terminal, the line typed after `prompt` (possibly empty, without its line
/// break); otherwise none. End of input at the prompt throws OperationFailed.
std::optional<std::string> get_arg(const std::optional<std::string>& value, const std::string& prompt);

/// Throws InvalidValue unless `name` can name the package directory inside the
/// project and stand on one line between quotes in the files made from the
/// templates: not empty, not absolute, no ".." component, UTF-8 without
/// control characters or quote characters (" ' `). Nested names such as
/// "a/b" are fine.
void check_project_name(const std::string& name);

/// The first test of a new project named `name` (a checked project name):
/// its path under tests/ and its text, a test that imports the package.
struct FirstTest
{
  std::filesystem::path path;
  std::string text;
};
FirstTest first_test(const std::string& name);

/// Scaffolds a project: pyproject.toml, the package directory with an
/// empty __init__.py, a first test when nothing is at tests/, and
/// .github/workflows/build.yml; existing files are left alone. Returns 1
/// after the usage line when a value is missing.
int cmd_init(const ParsedArguments& args, const Parser& parser);

} // namespace tolvo::cli
