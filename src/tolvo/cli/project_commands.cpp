#include "tolvo/cli/project_commands.hpp"

#include "tolvo/cli/installer_option.hpp"
#include "tolvo/cli/refresh_option.hpp"
#include "tolvo/config/packaging/names.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"
#include "tolvo/venv/virtual_environment.hpp"
#include "tolvo/wheel/engine.hpp"
#include "tolvo/wheel/wheel_test.hpp"

#include <algorithm>
#include <iostream>
#include <set>

namespace tolvo::cli {

namespace {

// std::set<std::string> orders by bytes, which for UTF-8 is code point order.
std::string sorted_list(const std::set<std::string>& names)
{
  return platform::join({names.begin(), names.end()}, ", ");
}

bool has_extra(const config::ProjectConfig& config, std::string_view name)
{
  const std::optional<config::Extras> extras = config.extras();
  return extras && std::any_of(extras->begin(), extras->end(),
                               [&](const config::ExtraGroup& group) { return group.name == name; });
}

} // namespace

std::vector<std::string> validate_extras(const config::ProjectConfig& config, const std::vector<std::string>& extras)
{
  std::set<std::string> available;
  if (const std::optional<config::Extras> groups = config.extras()) {
    for (const config::ExtraGroup& group : *groups) {
      available.insert(group.name);
    }
  }
  for (const std::string& name : extras) {
    if (available.count(name) == 0) {
      throw ValueError("Unknown extra '" + name + "'. Available: " + sorted_list(available));
    }
  }
  return extras;
}

RequirementNames classify_requirement_names(const config::ProjectConfig& config, const std::vector<std::string>& names)
{
  const std::optional<config::DependencyGroups> groups = config.dependency_groups();
  if (!groups) {
    return {validate_extras(config, names), {}};
  }
  std::set<std::string> extras;
  if (const std::optional<config::Extras> defined = config.extras()) {
    for (const config::ExtraGroup& group : *defined) {
      extras.insert(group.name);
    }
  }
  RequirementNames classified;
  for (const std::string& name : names) {
    if (extras.count(name) != 0) {
      classified.extras.push_back(name);
    } else if (config::find_dependency_group(*groups, name) != nullptr) {
      classified.groups.push_back(name);
    } else {
      std::set<std::string> group_names;
      for (const config::DependencyGroup& group : *groups) {
        group_names.insert(group.name);
      }
      throw ValueError("Unknown extra or dependency group '" + name + "'. Extras: " + sorted_list(extras) +
                       ". Dependency groups: " + sorted_list(group_names));
    }
  }
  return classified;
}

bool test_tools_from_group(const config::ProjectConfig& config)
{
  const std::optional<config::DependencyGroups> groups = config.dependency_groups();
  return groups && config::find_dependency_group(*groups, "test") != nullptr && !has_extra(config, "test");
}

int cmd_requirements(const Namespace& args, const Parser& /*parser*/)
{
  const config::ProjectConfig config;
  RequirementNames names;
  if (!args.list("extras").empty()) {
    names = classify_requirement_names(config, args.list("extras"));
  }
  venv::get_venv(refresh_mode(args, &config), installer_kind(args, &config)).install(names.extras, names.groups);
  return 0;
}

int cmd_test(const Namespace& args, const Parser& /*parser*/)
{
  if (args.flag("wheel")) {
    wheel::test_manylinux_wheel(std::nullopt, args.str("arch"), args.str("libc"), args.str("python"),
                                args.opt("setup"));
    return 0;
  }
  const std::optional<config::ProjectConfig> project = find_project();
  const config::ProjectConfig* config = project ? &*project : nullptr;
  const venv::VirtualEnvironment venv = venv::get_venv(refresh_mode(args, config), installer_kind(args, config));
  venv.ensure_test_tools(project && test_tools_from_group(*project));
  std::vector<std::string> command{"-um", "pytest", "-vv", args.has("path") ? args.str("path") : std::string("tests/")};
  const std::vector<std::string>& passed = args.list("pytest_args");
  command.insert(command.end(), passed.begin(), passed.end());
  const int returncode = venv.run(command).returncode;
  // A test run ended by a signal reports it the way a shell does.
  return returncode < 0 ? 128 - returncode : returncode;
}

int cmd_status(const Namespace& args, const Parser& /*parser*/)
{
  const config::ProjectConfig config;
  const venv::VirtualEnvironment venv = venv::get_venv(refresh_mode(args, &config), installer_kind(args, &config));
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
