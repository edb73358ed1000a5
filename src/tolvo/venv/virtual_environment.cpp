#include "tolvo/venv/virtual_environment.hpp"

#include "tolvo/venv/quiet_runner.hpp"

#include <filesystem>
#include <system_error>

namespace tolvo {

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
  ensure();
  ensure_pip();
}

bool VirtualEnvironment::exists() const
{
  return path_exists(path) && path_exists(python) && path_exists(pip);
}

void VirtualEnvironment::ensure() const
{
  if (exists()) {
    return;
  }
  _spinner("Creating virtual environment", {"python", "-m", "venv", "--system-site-packages", "--upgrade", path},
           true);
}

void VirtualEnvironment::ensure_pip() const
{
  _spinner("Ensuring pip is installed", {python, "-um", "ensurepip"}, true);
  _spinner("Upgrading pip", {pip, "install", "--upgrade", "pip"}, true);
}

void VirtualEnvironment::ensure_build_tools() const
{
  _spinner("Installing build tools", {pip, "install", "build", "wheel"}, true);
}

void VirtualEnvironment::ensure_test_tools() const
{
  _spinner("Installing test tools", {pip, "install", "-e", ".[test]"}, true);
}

void VirtualEnvironment::ensure_lint_tools() const
{
  _spinner("Installing lint tools", {pip, "install", "ruff", "vulture", "basedpyright", "dodgy", "pyroma"}, true);
}

std::vector<std::string> VirtualEnvironment::install_arguments(const std::vector<std::string>& extras) const
{
  std::string target = ".";
  if (!extras.empty()) {
    target += "[";
    for (std::size_t i = 0; i < extras.size(); ++i) {
      target += (i == 0 ? "" : ",") + extras[i];
    }
    target += "]";
  }
  return {pip, "install", "--quiet", "--editable", target};
}

void VirtualEnvironment::install(const std::vector<std::string>& extras) const
{
  _spinner("Installing requirements", install_arguments(extras), true);
}

platform::CompletedProcess VirtualEnvironment::run(const std::vector<std::string>& args,
                                                   const std::optional<platform::Environment>& env,
                                                   bool chronic,
                                                   bool capture_output) const
{
  platform::Environment merged = platform::current_environment();
  if (env) {
    for (const auto& [name, value] : *env) {
      merged[name] = value;
    }
  }
  std::vector<std::string> full{python};
  full.insert(full.end(), args.begin(), args.end());
  if (chronic) {
    return _chronic(full, merged, true);
  }
  return platform::run_process(full, {.env = std::move(merged), .capture = capture_output});
}

VirtualEnvironment get_venv()
{
  return VirtualEnvironment(".venv");
}

} // namespace tolvo
