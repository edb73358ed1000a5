#include "tolvo/cli/refresh_option.hpp"

#include "tolvo/cli/installer_option.hpp"

namespace tolvo::cli {

venv::RefreshMode refresh_mode(const ParsedArguments& args, const config::ProjectConfig* project)
{
  if (const std::optional<std::string> given = args.opt("refresh")) {
    return venv::parse_refresh_mode(*given, "--refresh");
  }
  if (project != nullptr) {
    if (const std::optional<std::string> configured = project->refresh()) {
      return venv::parse_refresh_mode(*configured, "pyproject.toml: 'tool.tolvo.refresh'");
    }
  }
  return venv::RefreshMode::always;
}

bool system_site_packages(const config::ProjectConfig* project)
{
  return project == nullptr || project->system_site_packages().value_or(true);
}

venv::EnvironmentSettings environment_settings(const ParsedArguments& args, const config::ProjectConfig* project)
{
  return {refresh_mode(args, project), system_site_packages(project), installer_kind(args, project)};
}

std::optional<config::ProjectConfig> find_project()
{
  if (const std::optional<std::filesystem::path> path = config::find_pyproject()) {
    return config::ProjectConfig(*path);
  }
  return std::nullopt;
}

} // namespace tolvo::cli
