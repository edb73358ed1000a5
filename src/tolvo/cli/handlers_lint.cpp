// The lint command.

#include "tolvo/cli/handlers.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/lint/lint_runner.hpp"
#include "tolvo/venv/virtual_environment.hpp"

namespace tolvo::cli {

int cmd_lint(const Namespace& args, const Parser& /*parser*/)
{
  // The environment comes first, so it is created or refreshed even when
  // no pyproject.toml is found.
  const VirtualEnvironment venv = get_venv();
  const ProjectConfig config;
  return run_lint(venv, config, /*fix=*/args.flag("fix"));
}

} // namespace tolvo::cli
