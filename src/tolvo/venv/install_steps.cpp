#include "tolvo/venv/install_steps.hpp"

#include "tolvo/platform/text.hpp"

namespace tolvo::venv {

namespace {

const std::vector<std::string> BUILD_TOOLS = {"build", "wheel"};
const std::vector<std::string> LINT_TOOLS = {"ruff", "vulture", "basedpyright", "dodgy", "pyroma"};

InstallStep package_step(const std::string& action, const std::string& pip, const std::vector<std::string>& packages)
{
  std::vector<std::string> args{pip, "install"};
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

InstallStep creation_step(const std::string& path, bool system_site_packages)
{
  std::vector<std::string> args{"python", "-m", "venv"};
  if (system_site_packages) {
    args.emplace_back("--system-site-packages");
  }
  args.insert(args.end(), {"--upgrade", path});
  return {"Creating virtual environment", std::move(args)};
}

InstallStep ensure_pip_step(const std::string& python)
{
  return {"Ensuring pip is installed", {python, "-um", "ensurepip"}};
}

InstallStep upgrade_pip_step(const std::string& pip)
{
  return {"Upgrading pip", {pip, "install", "--upgrade", "pip"}};
}

InstallStep build_tools_step(const std::string& pip)
{
  return package_step("Installing build tools", pip, BUILD_TOOLS);
}

InstallStep test_tools_step(const std::string& pip, const config::RequirementNames& tools)
{
  std::vector<std::string> args{pip, "install", "-e", editable_target(tools.extras)};
  for (const std::string& group : tools.groups) {
    args.insert(args.end(), {"--group", group});
  }
  return {"Installing test tools", std::move(args), project_target(tools.extras, tools.groups)};
}

InstallStep lint_tools_step(const std::string& pip)
{
  return package_step("Installing lint tools", pip, LINT_TOOLS);
}

InstallStep requirements_step(const std::string& pip, const std::vector<std::string>& extras,
                              const std::vector<std::string>& groups)
{
  std::vector<std::string> args{pip, "install", "--quiet", "--editable", editable_target(extras)};
  for (const std::string& group : groups) {
    args.insert(args.end(), {"--group", group});
  }
  return {"Installing requirements", std::move(args), project_target(extras, groups)};
}

} // namespace tolvo::venv
