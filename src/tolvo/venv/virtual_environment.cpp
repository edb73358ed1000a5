#include "tolvo/venv/virtual_environment.hpp"

#include "tolvo/venv/quiet_runner.hpp"

#include <filesystem>
#include <system_error>

namespace tolvo::venv {

namespace fs = std::filesystem;

namespace {

// Existence following symbolic links: a dangling link is missing.
bool path_exists(const std::string& path)
{
  std::error_code error;
  return fs::exists(fs::path(path), error);
}

} // namespace

std::string resolve_environment_path(const std::string& path)
{
  const fs::path normal = fs::absolute(fs::path(path)).lexically_normal();
  fs::path resolved = fs::weakly_canonical(normal);
  std::string text = resolved.string();
  // weakly_canonical keeps a trailing separator of a directory-like path.
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

VirtualEnvironment::VirtualEnvironment(const std::string& given)
  : path(resolve_environment_path(given)),
    python(path + "/bin/python"),
    pip(path + "/bin/pip")
{
}

bool VirtualEnvironment::exists() const
{
  return path_exists(path) && path_exists(python) && path_exists(pip);
}

void VirtualEnvironment::run_step(const InstallStep& step) const
{
  _spinner(step.action, step.args, /*chronic=*/true);
}

void VirtualEnvironment::ensure() const
{
  if (!exists()) {
    run_step(creation_step(path));
  }
}

void VirtualEnvironment::ensure_pip() const
{
  run_step(ensure_pip_step(python));
  run_step(upgrade_pip_step(pip));
}

void VirtualEnvironment::ensure_build_tools() const
{
  run_step(build_tools_step(pip));
}

void VirtualEnvironment::ensure_test_tools() const
{
  run_step(test_tools_step(pip));
}

void VirtualEnvironment::ensure_lint_tools() const
{
  run_step(lint_tools_step(pip));
}

void VirtualEnvironment::install(const std::vector<std::string>& extras) const
{
  run_step(requirements_step(pip, extras));
}

platform::CompletedProcess VirtualEnvironment::run(const std::vector<std::string>& args,
                                                   const RunOptions& options) const
{
  platform::Environment merged = platform::current_environment();
  if (options.env) {
    for (const auto& [name, value] : *options.env) {
      merged[name] = value;
    }
  }
  std::vector<std::string> full{python};
  full.insert(full.end(), args.begin(), args.end());
  if (options.chronic) {
    return _chronic(full, merged, true);
  }
  return platform::run_process(full, {.env = std::move(merged), .capture = options.capture_output});
}

VirtualEnvironment get_venv()
{
  VirtualEnvironment venv(".venv");
  venv.ensure();
  venv.ensure_pip();
  return venv;
}

} // namespace tolvo::venv
