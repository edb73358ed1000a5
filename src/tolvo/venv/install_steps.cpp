#include "tolvo/venv/install_steps.hpp"

#include "tolvo/platform/text.hpp"

namespace tolvo::venv {

InstallStep creation_step(const std::string& path)
{
  return {"Creating virtual environment", {"python", "-m", "venv", "--system-site-packages", "--upgrade", path}};
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
  return {"Installing build tools", {pip, "install", "build", "wheel"}};
}

InstallStep test_tools_step(const std::string& pip)
{
  return {"Installing test tools", {pip, "install", "-e", ".[test]"}};
}

InstallStep lint_tools_step(const std::string& pip)
{
  return {"Installing lint tools", {pip, "install", "ruff", "vulture", "basedpyright", "dodgy", "pyroma"}};
}

InstallStep requirements_step(const std::string& pip, const std::vector<std::string>& extras)
{
  const std::string target = extras.empty() ? "." : ".[" + platform::join(extras, ",") + "]";
  return {"Installing requirements", {pip, "install", "--quiet", "--editable", target}};
}

} // namespace tolvo::venv
