#include "tolvo/venv/sync_check.hpp"

#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/version.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/venv/requirement_closure.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

namespace tolvo::venv {

namespace {

bool contains(const std::vector<std::string>& items, std::string_view item)
{
  return std::find(items.begin(), items.end(), item) != items.end();
}

bool same_directory(const std::string& a, const std::string& b)
{
  namespace fs = std::filesystem;
  if (fs::path(a).lexically_normal() == fs::path(b).lexically_normal()) {
    return true;
  }
  std::error_code error;
  const fs::path ra = fs::weakly_canonical(a, error);
  const fs::path rb = error ? fs::path() : fs::weakly_canonical(b, error);
  return !error && ra == rb;
}

// The requirement strings of the project that `target` asks for, each
// with the extra its markers see; or why they cannot be told.
std::optional<Judgement> project_requirements(const InstallTarget& target, const config::ProjectConfig& project,
                                              std::vector<std::pair<std::string, std::string>>& out)
{
  const std::vector<std::string> dynamic = project.dynamic();
  if (contains(dynamic, "dependencies") || (contains(dynamic, "optional-dependencies") && !target.extras.empty())) {
    return unsure("the project's dependencies are dynamic");
  }
  // The project's own dependencies apply with no extra and with each extra
  // asked: installers evaluate their markers in all of these.
  for (const std::string& text : project.dependencies().value_or(std::vector<std::string>{})) {
    out.emplace_back(text, "");
    for (const std::string& name : target.extras) {
      out.emplace_back(text, config::canonicalize_name(name));
    }
  }
  if (!target.extras.empty()) {
    const config::Extras extras = project.extras().value_or(config::Extras{});
    for (const std::string& name : target.extras) {
      const auto group =
        std::find_if(extras.begin(), extras.end(), [&](const config::ExtraGroup& each) { return each.name == name; });
      if (group == extras.end()) {
        return unsure("the project has no extra '" + name + "'");
      }
      for (const std::string& text : group->requirements) {
        out.emplace_back(text, config::canonicalize_name(name));
      }
    }
  }
  if (!target.groups.empty()) {
    const config::DependencyGroups groups = project.dependency_groups().value_or(config::DependencyGroups{});
    for (const std::string& name : target.groups) {
      for (const std::string& text : config::resolve_dependency_group(groups, name)) {
        out.emplace_back(text, "");
      }
    }
  }
  return std::nullopt;
}

// The project itself: installed in editable mode from here, from the build
// inputs and (for a version derived from the VCS) the commit it was last
// installed from by tolvo, and at its version when that is static.
std::optional<Judgement> judge_project(const InstallTarget& target, SyncContext& context,
                                       std::vector<std::pair<std::string, std::string>>& requirements)
{
  if (context.project == nullptr) {
    return unsure("there is no pyproject.toml");
  }
  const config::ProjectConfig& project = *context.project;
  if (!context.recorded_files_hash) {
    return unsure("no install of the project by tolvo is on record");
  }
  if (!context.files_hash) {
    return unsure("the project's build inputs cannot be fingerprinted");
  }
  if (*context.recorded_files_hash != *context.files_hash) {
    return unsatisfied("the project's build files or native sources changed since its install");
  }
  const bool dynamic_version = contains(project.dynamic(), "version");
  if (dynamic_version) {
    if (!context.head || !context.recorded_head) {
      return unsure("the commit the project's version may derive from cannot be told");
    }
    if (*context.head != *context.recorded_head) {
      return unsatisfied("HEAD names another commit than at the project's install");
    }
  }
  const std::string name = project.name();
  const SitePackages::Lookup found = context.site.find(name);
  if (found.state == SitePackages::State::missing) {
    return unsatisfied(name + " is not installed");
  }
  if (found.state == SitePackages::State::unreadable) {
    return unsure(name + " cannot be read");
  }
  const InstalledDistribution& installed = *found.distribution;
  const std::optional<std::optional<DirectUrl>> direct_url = read_direct_url(installed);
  if (!direct_url) {
    return unsure(name + "'s direct_url.json cannot be read");
  }
  const std::optional<DirectUrl>& direct = *direct_url;
  const std::optional<std::string> source = direct && direct->editable ? file_url_path(direct->url) : std::nullopt;
  if (!source || !same_directory(*source, context.project_directory)) {
    return unsatisfied(name + " is not installed in editable mode from " + context.project_directory);
  }
  const std::optional<config::Version> have = config::Version::try_parse(installed.metadata.version);
  if (!dynamic_version && (!have || *have != config::Version(project.version()))) {
    return unsatisfied(name + " " + installed.metadata.version + " is installed, the project is at " +
                       project.version());
  }
  return project_requirements(target, project, requirements);
}

} // namespace

Judgement judge_install(const InstallTarget& target, SyncContext& context)
{
  // Whatever cannot be parsed or looked up (a malformed requirement or
  // marker, an unknown marker variable, a missing key) is an answer here:
  // the step cannot be judged, so it runs and pip has its say.
  try {
    std::vector<std::pair<std::string, std::string>> requirements;
    if (target.project) {
      if (auto judged = judge_project(target, context, requirements)) {
        return *judged;
      }
    }
    for (const std::string& package : target.packages) {
      requirements.emplace_back(package, "");
    }
    RequirementClosure closure(context.markers, context.site);
    for (const auto& [text, extra] : requirements) {
      if (auto failed = closure.require(text, extra)) {
        return *failed;
      }
    }
    return {Verdict::satisfied, {}};
  } catch (const Error& error) {
    return unsure(error.what());
  }
}

bool pip_upgrade_due(std::optional<std::int64_t> last_upgrade, std::int64_t now)
{
  // Compared without subtracting the recorded time, which no arithmetic may trust.
  return !last_upgrade || *last_upgrade > now || *last_upgrade < now - PIP_UPGRADE_INTERVAL;
}

bool pip_present(const std::string& venv_path)
{
  std::error_code error;
  if (!std::filesystem::exists(venv_path + "/bin/pip", error)) {
    return false;
  }
  SitePackages own(environment_site_packages(venv_path));
  return own.find("pip").state == SitePackages::State::found;
}

} // namespace tolvo::venv
