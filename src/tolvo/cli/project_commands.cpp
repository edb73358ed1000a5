#include "tolvo/cli/project_commands.hpp"

#include "tolvo/cli/grammar.hpp"
#include "tolvo/cli/refresh_option.hpp"
#include "tolvo/config/test_tools.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/venv/virtual_environment.hpp"
#include "tolvo/wheel/engine.hpp"
#include "tolvo/wheel/test_selection.hpp"
#include "tolvo/wheel/wheel_test.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace tolvo::cli {

namespace fs = std::filesystem;

namespace {

// The files from which pip can install the project in a directory.
constexpr std::array<const char*, 3> PROJECT_FILES = {"pyproject.toml", "setup.py", "setup.cfg"};

} // namespace

bool holds_project(const fs::path& directory)
{
  std::error_code error;
  return std::any_of(PROJECT_FILES.begin(), PROJECT_FILES.end(),
                     [&](const char* name) { return fs::exists(directory / name, error); });
}

std::vector<std::string> pytest_arguments(const std::optional<std::string>& path, bool tests_directory,
                                          const std::vector<std::string>& passed)
{
  std::vector<std::string> command{"-um", "pytest", "-vv"};
  if (path) {
    command.push_back(*path);
  } else if (tests_directory) {
    command.emplace_back("tests/");
  }
  command.insert(command.end(), passed.begin(), passed.end());
  return command;
}

int cmd_requirements(const ParsedArguments& args, const Parser& /*parser*/)
{
  const config::ProjectConfig config;
  RequirementNames names;
  if (!args.list("extras").empty()) {
    names = classify_requirement_names(config, args.list("extras"));
  }
  venv::ensure_venv(environment_settings(args, &config)).install(names.extras, names.groups);
  return 0;
}

int cmd_test(const ParsedArguments& args, const Parser& parser)
{
  if (args.flag("wheel")) {
    // The container's copy of the project always has tests/, so that is
    // the default there.
    const std::string given = args.opt("path").value_or("tests/");
    const std::optional<std::string> path = wheel::container_test_path(given, std::filesystem::current_path());
    if (!path) {
      parser.command("test").error("argument path: with --wheel the tests run from a copy of " +
                                   std::string(wheel::CONTAINER_TESTS_DIR) + "/, so PATH must lie inside it: '" +
                                   given + "'");
    }
    wheel::test_manylinux_wheel(std::nullopt, args.str("arch"), args.str("libc"), args.str("python"), args.opt("setup"),
                                wheel::TestSelection{*path, args.list("pytest_args")});
    return 0;
  }
  // Without a project here, pip would fail only after the environment was
  // made; nothing is created or run.
  const fs::path here = fs::current_path();
  if (!holds_project(here)) {
    throw NotFoundError("no project in " + here.string() + ": no pyproject.toml, setup.py or setup.cfg");
  }
  const std::optional<config::ProjectConfig> project = find_project();
  const config::ProjectConfig* settings = project ? &*project : nullptr;
  // Settings are checked before the environment is touched.
  const RequirementNames tools = config::test_tool_names(settings);
  const venv::VirtualEnvironment venv = venv::ensure_venv(environment_settings(args, settings));
  venv.ensure_test_tools(tools);
  std::error_code error;
  const int returncode =
    venv.run(pytest_arguments(args.opt("path"), fs::is_directory("tests", error), args.list("pytest_args"))).returncode;
  // A test run ended by a signal reports it the way a shell does.
  return returncode < 0 ? 128 - returncode : returncode;
}

int cmd_status(const ParsedArguments& args, const Parser& /*parser*/)
{
  const config::ProjectConfig config;
  const venv::VirtualEnvironment venv = venv::ensure_venv(environment_settings(args, &config));
  // Each line is composed whole before any of it is written, so a failure
  // never leaves half a line behind.
  const std::string name = config.name();
  const std::vector<std::string> dynamic = config.dynamic();
  // A version the build back end computes is known only to the installed
  // metadata.
  const std::string version = std::find(dynamic.begin(), dynamic.end(), "version") != dynamic.end()
                                ? venv.installed_version(name).value_or("dynamic")
                                : config.version();
  std::cout << "Project: " + name + "-" + version + "\n" << std::flush;
  const std::string docker = std::string("Docker: ") + (wheel::check_docker() ? "installed" : "missing") + "\n";
  std::cout << docker;
  std::cout << "Venv: " << (venv.exists() ? "installed" : "missing") << "\n";
  std::cout.flush();
  return 0;
}

} // namespace tolvo::cli
