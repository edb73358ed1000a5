#include "tolvo/cli/installer_option.hpp"

namespace tolvo::cli {

venv::InstallerKind installer_kind(const ParsedArguments& args, const config::ProjectConfig* project)
{
  if (const std::optional<std::string> given = args.opt("installer")) {
    return venv::parse_installer(*given, "--installer");
  }
  if (project != nullptr) {
    if (const std::optional<std::string> configured = project->installer()) {
      return venv::parse_installer(*configured, "pyproject.toml: 'tool.tolvo.installer'");
    }
  }
  return venv::InstallerKind::pip;
}

} // namespace tolvo::cli
