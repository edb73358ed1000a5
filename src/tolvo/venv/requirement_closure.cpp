#include "tolvo/venv/requirement_closure.hpp"

#include "tolvo/config/packaging/names.hpp"
#include "tolvo/platform/interruption.hpp"

#include <utility>

namespace tolvo::venv {

RequirementClosure::RequirementClosure(const config::MarkerEnvironment& markers, SitePackages& site)
  : m_markers(markers),
    m_site(site)
{}

std::optional<Judgement> RequirementClosure::require(const std::string& text, const std::string& extra)
{
  const config::Requirement& requirement = m_roots.emplace_back(text);
  if (applies(requirement, extra)) {
    m_pending.push_back(&requirement);
  }
  return drain();
}

bool RequirementClosure::applies(const config::Requirement& requirement, const std::string& extra)
{
  if (!requirement.marker) {
    return true;
  }
  m_markers["extra"] = extra;
  return requirement.marker->evaluate(m_markers);
}

std::optional<Judgement> RequirementClosure::drain()
{
  while (!m_pending.empty()) {
    platform::raise_if_interrupted();
    const config::Requirement& requirement = *m_pending.back();
    m_pending.pop_back();
    if (auto failed = meet(requirement)) {
      return failed;
    }
  }
  return std::nullopt;
}

std::optional<Judgement> RequirementClosure::meet(const config::Requirement& requirement)
{
  if (!requirement.url.empty()) {
    return unsure(requirement.name + " is asked for by URL");
  }
  const SitePackages::Lookup found = m_site.find(requirement.name);
  if (found.state == SitePackages::State::missing) {
    return unsatisfied(requirement.name + " is not installed");
  }
  if (found.state == SitePackages::State::unreadable) {
    return unsure(requirement.name + " cannot be read");
  }
  const InstalledDistribution& distribution = *found.distribution;
  Dependencies& dependencies = dependencies_of(config::canonicalize_name(distribution.metadata.name), distribution);
  if (!dependencies.version) {
    return unsure(requirement.name + " has the version '" + distribution.metadata.version + "'");
  }
  // Installers judge an installed version with pre-releases admitted.
  if (!requirement.specifier.contains(*dependencies.version, /*prereleases=*/true)) {
    return unsatisfied(requirement.name + " " + distribution.metadata.version + " does not match '" +
                       requirement.specifier.str() + "'");
  }
  follow(dependencies, "");
  for (const std::string& asked : requirement.extras) {
    const std::string key = config::canonicalize_name(asked);
    if (dependencies.extras.count(key) == 0) {
      return unsure(requirement.name + " does not provide the extra '" + asked + "'");
    }
    follow(dependencies, key);
  }
  return std::nullopt;
}

RequirementClosure::Dependencies& RequirementClosure::dependencies_of(const std::string& key,
                                                                      const InstalledDistribution& distribution)
{
  const auto known = m_dependencies.find(key);
  if (known != m_dependencies.end()) {
    return known->second;
  }
  Dependencies dependencies;
  dependencies.version = config::Version::try_parse(distribution.metadata.version);
  for (const std::string& offered : distribution.metadata.provides_extra) {
    dependencies.extras.insert(config::canonicalize_name(offered));
  }
  dependencies.requirements.reserve(distribution.metadata.requires_dist.size());
  for (const std::string& text : distribution.metadata.requires_dist) {
    platform::raise_if_interrupted();
    const config::Requirement& requirement = dependencies.requirements.emplace_back(text);
    const std::size_t index = dependencies.requirements.size() - 1;
    const std::optional<std::set<std::string>> named =
      requirement.marker ? requirement.marker->extra_names() : std::set<std::string>();
    if (!named || named->count("") != 0) {
      dependencies.any_extra.push_back(index);
    } else if (applies(requirement, "")) {
      // Holds with no extra: every other name outside `named` behaves alike.
      dependencies.plain.push_back(index);
    } else {
      // Holds, if at all, only with one of the names it compares `extra` with.
      for (const std::string& name : *named) {
        dependencies.by_extra[name].push_back(index);
      }
    }
  }
  return m_dependencies.emplace(key, std::move(dependencies)).first->second;
}

void RequirementClosure::follow(Dependencies& dependencies, const std::string& extra)
{
  if (!dependencies.followed.insert(extra).second) {
    return;
  }
  if (extra.empty()) {
    for (const std::size_t index : dependencies.plain) {
      m_pending.push_back(&dependencies.requirements[index]);
    }
  } else if (const auto indexed = dependencies.by_extra.find(extra); indexed != dependencies.by_extra.end()) {
    for (const std::size_t index : indexed->second) {
      if (applies(dependencies.requirements[index], extra)) {
        m_pending.push_back(&dependencies.requirements[index]);
      }
    }
  }
  for (const std::size_t index : dependencies.any_extra) {
    if (applies(dependencies.requirements[index], extra)) {
      m_pending.push_back(&dependencies.requirements[index]);
    }
  }
}

} // namespace tolvo::venv
