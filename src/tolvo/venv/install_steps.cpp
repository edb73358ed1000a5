#include "tolvo/venv/install_steps.hpp"

#include "tolvo/platform/text.hpp"

namespace tolvo::venv {

namespace {

const std::vector<std::string> BUILD_TOOLS = {"build", "wheel"};
const std::vector<std::string> LINT_TOOLS = {"ruff", "vulture", "basedpyright", "dodgy", "pyroma"};

InstallStep package_step(const std::string& action, const InstallCommand& install,
                         const std::vector<std::string>& packages)
{
  std::vector<std::string> args = install;
  args.insert(args.end(), packages.begin(), packages.end());
  InstallTarget target;
  target.packages = packages;
  return {action, std::move(args), std::move(target)};
}

InstallTarget project_target(const std::vector<std::string>& extras, const std::vector<std::string>& groups)
{
  InstallTarget target;
  target.project = true;
  target.extras = extras;
  target.groups = groups;
  return target;
}

// The project in the working directory with `extras`, joined as given.
std::string editable_target(const std::vector<std::string>& extras)
{
  return extras.empty() ? "." : ".[" + platform::join(extras, ",") + "]";
}

} // namespace

InstallStep creation_step(const std::string& path, const Installer& installer, bool system_site_packages)
{
  std::vector<std::string> args;
  if (installer.kind == InstallerKind::uv) {
    // --allow-existing: creation also runs over an incomplete environment.
    args = {installer.uv, "venv", "--seed", "--allow-existing", "--python", installer.base_python};
  } else {
    args = {"python", "-m", "venv"};
  }
  if (system_site_packages) {
    args.emplace_back("--system-site-packages");
  }
  if (installer.kind == InstallerKind::pip) {
    args.emplace_back("--upgrade");
  }
  args.push_back(path);
  return {"Creating virtual environment", std::move(args)};
}

InstallStep ensure_pip_step(const std::string& python)
{
  return {"Ensuring pip is installed", {python, "-um", "ensurepip"}};
}

InstallStep upgrade_pip_step(const InstallCommand& install)
{
  std::vector<std::string> args = install;
  args.insert(args.end(), {"--upgrade", "pip"});
  return {"Upgrading pip", std::move(args)};
}

InstallStep build_tools_step(const InstallCommand& install)
{
  return package_step("Installing build tools", install, BUILD_TOOLS);
}

InstallStep test_tools_step(const InstallCommand& install, const config::RequirementNames& tools)
{
  std::vector<std::string> args = install;
  args.insert(args.end(), {"-e", editable_target(tools.extras)});
  for (const std::string& group : tools.groups) {
    args.insert(args.end(), {"--group", group});
  }
  return {"Installing test tools", std::move(args), project_target(tools.extras, tools.groups)};
}

InstallStep lint_tools_step(const InstallCommand& install)
{
  return package_step("Installing lint tools", install, LINT_TOOLS);
}

InstallStep requirements_step(const InstallCommand& install, const std::vector<std::string>& extras,
                              const std::vector<std::string>& groups)
{
  std::vector<std::string> args = install;
  args.insert(args.end(), {"--quiet", "--editable", editable_target(extras)});
  for (const std::string& group : groups) {
    args.insert(args.end(), {"--group", group});
  }
  return {"Installing requirements", std::move(args), project_target(extras, groups)};
}

} // namespace tolvo::venv
