#pragma once

// Whether the environment already holds what an install step would
// install, judged natively from the installed distributions, as pip would
// judge it. Anything that cannot be read or decided makes the answer
// "unsure", and an unsure step runs: a step is skipped only when it is
// certainly satisfied.

#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/venv/install_steps.hpp"
#include "tolvo/venv/installed.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace tolvo::venv {

enum class Verdict
{
  satisfied,
  unsatisfied,
  unsure,
};

struct Judgement
{
  Verdict verdict = Verdict::unsure;
  /// Why the step is needed or cannot be judged (empty when satisfied).
  std::string reason;
};

inline Judgement unsatisfied(std::string reason)
{
  return {Verdict::unsatisfied, std::move(reason)};
}

inline Judgement unsure(std::string reason)
{
  return {Verdict::unsure, std::move(reason)};
}

/// What a target is judged against.
struct SyncContext
{
  /// The environment's interpreter's marker values (all but `extra`).
  config::MarkerEnvironment markers;
  /// The distributions on its site path.
  SitePackages& site;
  /// The project's pyproject.toml; needed for project targets.
  const config::ProjectConfig* project = nullptr;
  /// The absolute directory pip installs "." from.
  std::string project_directory;
  /// project_fingerprint() now (none when it cannot be taken), and at the
  /// last editable install by tolvo.
  std::optional<std::string> files_hash;
  std::optional<std::string> recorded_files_hash;
  /// work_tree_head() now and at that install; looked at only when the
  /// project's version is dynamic.
  std::optional<std::string> head;
  std::optional<std::string> recorded_head;
};

/// Satisfied when every requirement of `target`, followed through each
/// installed distribution's Requires-Dist with the extras asked of it, is
/// met by an installed distribution (pre-releases admitted), and, for the
/// project, when it is installed in editable mode from
/// `project_directory` with an unchanged fingerprint, at its static
/// version, or, for a dynamic version, from the same commit.
Judgement judge_install(const InstallTarget& target, SyncContext& context);

/// Whether pip should be upgraded, given the last upgrade (seconds since
/// the epoch, none when unknown) and `now`: when that is over seven days
/// ago, unknown, or in the future, however far.
bool pip_upgrade_due(std::optional<std::int64_t> last_upgrade, std::int64_t now);

/// Seven days, in seconds.
inline constexpr std::int64_t PIP_UPGRADE_INTERVAL = std::int64_t{7} * 24 * 60 * 60;

/// Whether the environment at `venv_path` has its own pip: bin/pip and a
/// pip distribution in its site-packages.
bool pip_present(const std::string& venv_path);

} // namespace tolvo::venv
