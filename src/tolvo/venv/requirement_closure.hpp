#pragma once

// Requirements followed through the installed distributions as an installer
// follows them: a distribution asked for with extras brings its
// Requires-Dist whose markers hold with no extra or with one of those
// extras. Each distribution's requirements are parsed once and indexed by
// the extras their markers name, and each (distribution, extra) pair is
// followed once, so that the cost grows with the metadata read and not
// with the number of extras asked.

#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/config/packaging/requirement.hpp"
#include "tolvo/config/packaging/version.hpp"
#include "tolvo/venv/installed.hpp"
#include "tolvo/venv/sync_check.hpp"

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tolvo::venv {

class RequirementClosure
{
public:
  RequirementClosure(const config::MarkerEnvironment& markers, SitePackages& site);

  /// Adds `text`, a requirement that applies when its marker holds with
  /// `extra`, and follows what it brings; the judgement when something is
  /// missing, out of range or cannot be judged. Throws on a malformed
  /// requirement or marker, and Interrupted when a signal has arrived.
  std::optional<Judgement> require(const std::string& text, const std::string& extra);

private:
  // One installed distribution's requirements, parsed once.
  struct Dependencies
  {
    std::optional<config::Version> version;
    /// Provides-Extra, normalised.
    std::unordered_set<std::string> extras;
    std::vector<config::Requirement> requirements;
    /// Indices of those that apply with no extra (their markers hold then).
    std::vector<std::size_t> plain;
    /// Indices of those whose markers can hold only with one of these extras.
    std::unordered_map<std::string, std::vector<std::size_t>> by_extra;
    /// Indices of those whose markers compare `extra` in other ways: judged
    /// with every extra followed.
    std::vector<std::size_t> any_extra;
    /// The extras followed so far ("" for none).
    std::unordered_set<std::string> followed;
  };

  std::optional<Judgement> drain();
  std::optional<Judgement> meet(const config::Requirement& requirement);
  Dependencies& dependencies_of(const std::string& key, const InstalledDistribution& distribution);
  void follow(Dependencies& dependencies, const std::string& extra);
  bool applies(const config::Requirement& requirement, const std::string& extra);

  config::MarkerEnvironment m_markers;
  SitePackages& m_site;
  // Stable addresses: the pending list points into these.
  std::deque<config::Requirement> m_roots;
  std::map<std::string, Dependencies> m_dependencies;
  std::vector<const config::Requirement*> m_pending;
};

} // namespace tolvo::venv
