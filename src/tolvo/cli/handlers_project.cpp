// The everyday commands: requirements, test and status.

#include "tolvo/cli/extras.hpp"
#include "tolvo/cli/handlers.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/venv/virtual_environment.hpp"
#include "tolvo/wheel/docker.hpp"
#include "tolvo/wheel/wheels.hpp"

#include <iostream>
#include <set>

namespace tolvo::cli {

std::vector<std::string> validate_extras(const ProjectConfig& config, const std::vector<std::string>& extras)
{
  std::set<std::string> available;
  if (const std::optional<Extras> groups = config.extras()) {
    for (const ExtraGroup& group : *groups) {
      available.insert(group.name);
    }
  }
  for (const std::string& name : extras) {
    if (available.count(name) == 0) {
      // std::set<std::string> orders by bytes, which for UTF-8 is code point order.
      std::string listing;
      for (const std::string& known : available) {
        listing += (listing.empty() ? "" : ", ") + known;
      }
      throw ValueError("Unknown extra '" + name + "'. Available: " + listing);
    }
  }
  return extras;
}

int cmd_requirements(const Namespace& args, const Parser& /*parser*/)
{
  const ProjectConfig config;
  std::vector<std::string> extras;
  if (!args.list("extras").empty()) {
    extras = validate_extras(config, args.list("extras"));
  }
  get_venv().install(extras);
  return 0;
}

int cmd_test(const Namespace& args, const Parser& /*parser*/)
{
  if (args.flag("wheel")) {
    wheel::test_manylinux_wheel(std::nullopt, args.str("arch"), args.str("libc"), args.str("python"), args.opt("setup"));
    return 0;
  }
  const VirtualEnvironment venv = get_venv();
  venv.ensure_test_tools();
  const std::string path = args.has("path") ? args.str("path") : std::string("tests/");
  const int returncode = venv.run({"-um", "pytest", "-vv", path}).returncode;
  // A test run ended by a signal reports it the way a shell does.
  return returncode < 0 ? 128 - returncode : returncode;
}

int cmd_status(const Namespace& /*args*/, const Parser& /*parser*/)
{
  const ProjectConfig config;
  const VirtualEnvironment venv = get_venv();
  std::cout << "Project: " << config.name() << "-" << config.version() << "\n";
  std::cout << "Docker: " << (check_docker() ? "installed" : "missing") << "\n";
  std::cout << "Venv: " << (venv.exists() ? "installed" : "missing") << "\n";
  std::cout.flush();
  return 0;
}

} // namespace tolvo::cli
