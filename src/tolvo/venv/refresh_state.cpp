#include "tolvo/venv/refresh_state.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/process.hpp"
#include "tolvo/venv/installed.hpp"
#include "tolvo/venv/project_fingerprint.hpp"
#include "tolvo/venv/sync_check.hpp"
#include "tolvo/venv/work_tree_head.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

namespace tolvo::venv {

namespace {

// What the interpreter says about itself, asked right after pip ran; none
// when it cannot say.
std::optional<InterpreterFacts> ask_interpreter(const std::string& python)
{
  const platform::CompletedProcess result =
    platform::run_process({python, "-c", INTERPRETER_FACTS_SCRIPT}, {.env = std::nullopt, .capture = true});
  if (result.returncode != 0 || !result.stdout_text) {
    return std::nullopt;
  }
  return parse_interpreter_facts(*result.stdout_text);
}

std::optional<std::string> recorded(const std::map<std::string, std::string>& values, const std::string& directory)
{
  const auto found = values.find(directory);
  return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

void set_or_erase(std::map<std::string, std::string>& values, const std::string& directory,
                  const std::optional<std::string>& value)
{
  if (value) {
    values[directory] = *value;
  } else {
    values.erase(directory);
  }
}

} // namespace

// `record` brought up to date after pip ran in the environment: tied to it
// as it is now, with the interpreter's facts asked afresh (pip may have
// moved the site path). None when the environment cannot be tied.
std::optional<RefreshRecord> refreshed_record(const std::string& venv_path, const std::string& python,
                                              std::optional<RefreshRecord> record)
{
  const std::optional<std::string> tie = current_tie(venv_path);
  if (!tie) {
    return std::nullopt;
  }
  RefreshRecord updated = record ? std::move(*record) : RefreshRecord{};
  updated.tie = *tie;
  updated.interpreter = ask_interpreter(python);
  return updated;
}

ProjectState project_state(const std::string& directory)
{
  ProjectState state{project_fingerprint(directory), work_tree_head(directory)};
  // A dynamic version read from a file of the project changes with it.
  std::error_code error;
  if (state.files_hash && std::filesystem::exists(directory + "/pyproject.toml", error)) {
    try {
      const config::ProjectConfig project(std::filesystem::path(directory + "/pyproject.toml"));
      const std::vector<std::string> dynamic = project.dynamic();
      if (std::find(dynamic.begin(), dynamic.end(), "version") != dynamic.end()) {
        *state.files_hash += "-" + files_digest(directory, project.version_files());
      }
    } catch (const Error&) {
      // The judgement reads the file again and is unsure of it.
    }
  }
  return state;
}

// Whether a facts-bearing record says that the environment holds `target`.
bool record_holds(const InstallTarget& target, const RefreshRecord& record, const std::string& directory,
                  const ProjectState& state)
{
  if (!record.interpreter) {
    return false;
  }
  std::error_code error;
  for (const std::string& watched : record.interpreter->watched) {
    if (std::filesystem::exists(watched, error)) {
      return false;
    }
  }
  SitePackages site(record.interpreter->site_path);
  std::optional<config::ProjectConfig> project;
  if (target.project && std::filesystem::exists(directory + "/pyproject.toml", error)) {
    project.emplace(std::filesystem::path(directory + "/pyproject.toml"));
  }
  SyncContext context{.markers = record.interpreter->markers,
                      .site = site,
                      .project = project ? &*project : nullptr,
                      .project_directory = directory,
                      .files_hash = state.files_hash,
                      .recorded_files_hash = recorded(record.projects, directory),
                      .head = state.head,
                      .recorded_head = recorded(record.heads, directory)};
  return judge_install(target, context).verdict == Verdict::satisfied;
}

void remember_project(RefreshRecord& record, const std::string& directory, const ProjectState& state)
{
  set_or_erase(record.projects, directory, state.files_hash);
  set_or_erase(record.heads, directory, state.head);
}

} // namespace tolvo::venv
