#include "tolvo/cli/project_commands.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"
#include "tolvo/venv/virtual_environment.hpp"
#include "tolvo/wheel/engine.hpp"
#include "tolvo/wheel/wheel_test.hpp"

#include <iostream>
#include <set>

namespace tolvo::cli {

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
      // std::set<std::string> orders by bytes, which for UTF-8 is code point order.
      throw ValueError("Unknown extra '" + name + "'. Available: " +
                       platform::join({available.begin(), available.end()}, ", "));
    }
  }
  return extras;
}

int cmd_requirements(const Namespace& args, const Parser& /*parser*/)
{
  const config::ProjectConfig config;
  std::vector<std::string> extras;
  if (!args.list("extras").empty()) {
    extras = validate_extras(config, args.list("extras"));
  }
  venv::get_venv().install(extras);
  return 0;
}

int cmd_test(const Namespace& args, const Parser& /*parser*/)
{
  if (args.flag("wheel")) {
    wheel::test_manylinux_wheel(std::nullopt, args.str("arch"), args.str("libc"), args.str("python"),
                                args.opt("setup"));
    return 0;
  }
  const venv::VirtualEnvironment venv = venv::get_venv();
  venv.ensure_test_tools();
  const std::string path = args.has("path") ? args.str("path") : std::string("tests/");
  const int returncode = venv.run({"-um", "pytest", "-vv", path}).returncode;
  // A test run ended by a signal reports it the way a shell does.
  return returncode < 0 ? 128 - returncode : returncode;
}

int cmd_status(const Namespace& /*args*/, const Parser& /*parser*/)
{
  const config::ProjectConfig config;
  const venv::VirtualEnvironment venv = venv::get_venv();
  // Each line is composed whole before any of it is written, so a failure
  // never leaves half a line behind.
  const std::string name = config.name();
  const std::string version = config.version();
  std::cout << "Project: " + name + "-" + version + "\n" << std::flush;
  const std::string docker = std::string("Docker: ") + (wheel::check_docker() ? "installed" : "missing") + "\n";
  std::cout << docker;
  std::cout << "Venv: " << (venv.exists() ? "installed" : "missing") << "\n";
  std::cout.flush();
  return 0;
}

} // namespace tolvo::cli
