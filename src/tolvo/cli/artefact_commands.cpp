#include "tolvo/cli/artefact_commands.hpp"

#include "tolvo/build/clean.hpp"
#include "tolvo/build/sdist.hpp"
#include "tolvo/cli/refresh_option.hpp"
#include "tolvo/config/template_diff.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/lint/lint_runner.hpp"
#include "tolvo/venv/virtual_environment.hpp"
#include "tolvo/wheel/images.hpp"
#include "tolvo/wheel/wheel_build.hpp"

#include <iostream>

namespace tolvo::cli {

namespace {

void print_lines(const std::vector<std::string>& lines)
{
  for (const std::string& line : lines) {
    std::cout << line << '\n';
  }
  std::cout.flush();
}

} // namespace

int cmd_build(const ParsedArguments& args, const Parser& /*parser*/)
{
  // A target no image exists for is refused before minutes of environment work.
  if (args.flag("wheel") || args.flag("native_wheel")) {
    wheel::check_target_values(args.str("arch"), args.str("python"));
  }
  // The project is read only for the settings of its environment.
  const std::optional<config::ProjectConfig> project = find_project();
  const config::ProjectConfig* settings = project ? &*project : nullptr;
  const venv::VirtualEnvironment venv = venv::ensure_venv(environment_settings(args, settings));
  venv.ensure_build_tools();
  // The builds change nothing in the environment: another tolvo may use it meanwhile.
  venv.unlock();
  if (args.flag("sdist")) {
    build::build_sdist(venv);
  }
  if (args.flag("wheel")) {
    wheel::build_manylinux_wheel(false, args.str("arch"), args.str("libc"), args.str("python"), args.opt("setup"));
  }
  if (args.flag("native_wheel")) {
    wheel::build_manylinux_wheel(true, args.str("arch"), args.str("libc"), args.str("python"), args.opt("setup"));
  }
  return 0;
}

int cmd_clean(const ParsedArguments& /*args*/, const Parser& /*parser*/)
{
  build::clean();
  return 0;
}

int cmd_lint(const ParsedArguments& args, const Parser& /*parser*/)
{
  // The environment comes first, so it is created or refreshed even when
  // no pyproject.toml is found.
  std::optional<config::ProjectConfig> project = find_project();
  if (project) {
    // A wrong lint-skip stops the command before anything is created or run.
    (void)lint::skipped_checks(*project);
  }
  const config::ProjectConfig* settings = project ? &*project : nullptr;
  const venv::VirtualEnvironment venv = venv::ensure_venv(environment_settings(args, settings));
  const config::ProjectConfig config = project ? std::move(*project) : config::ProjectConfig();
  return lint::run_lint(venv, config, /*fix=*/args.flag("fix"));
}

int cmd_config_diff(const ParsedArguments& /*args*/, const Parser& /*parser*/)
{
  const config::ProjectConfig templ = config::template_config();
  const config::ProjectConfig project;
  config::DiffFindings findings;
  try {
    config::diff(project, templ, findings);
  } catch (const Error&) {
    // What was found before the fault is still reported.
    print_lines(findings.lines);
    throw;
  }
  print_lines(findings.lines);
  return findings.status;
}

} // namespace tolvo::cli
