#pragma once

// What the when-needed refresh reads around an install step: the state of
// the project and of the environment's interpreter now, whether the record
// says the environment holds a target, and the record brought up to date
// after pip ran.

#include "tolvo/venv/install_steps.hpp"
#include "tolvo/venv/refresh_record.hpp"

#include <optional>
#include <string>

namespace tolvo::venv {

// What the judgement of a project compares with the record: its
// fingerprint and HEAD, taken before pip reads the files, so that an edit
// during the install is seen next time.
struct ProjectState
{
  std::optional<std::string> files_hash;
  std::optional<std::string> head;
};

/// The project's fingerprint (with its version files when the version is
/// dynamic) and its work tree's HEAD.
ProjectState project_state(const std::string& directory);

/// Whether a facts-bearing `record` says that the environment holds
/// `target`, for the project in `directory` as it is in `state`.
bool record_holds(const InstallTarget& target, const RefreshRecord& record, const std::string& directory,
                  const ProjectState& state);

/// `record` brought up to date after pip ran in the environment at
/// `venv_path`: tied to it as it is now, with the interpreter's facts asked
/// afresh (pip may have moved the site path). None when the environment
/// cannot be tied.
std::optional<RefreshRecord> refreshed_record(const std::string& venv_path, const std::string& python,
                                              std::optional<RefreshRecord> record);

/// Notes in `record` the project's state at an install that succeeded.
void remember_project(RefreshRecord& record, const std::string& directory, const ProjectState& state);

} // namespace tolvo::venv
