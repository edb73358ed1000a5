#include "tolvo/venv/virtual_environment.hpp"

#include "tolvo/console/quiet_runner.hpp"
#include "tolvo/console/spinner.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/venv/environment_lock.hpp"
#include "tolvo/venv/installed.hpp"
#include "tolvo/venv/pyvenv_cfg.hpp"
#include "tolvo/venv/refresh_record.hpp"
#include "tolvo/venv/refresh_state.hpp"
#include "tolvo/venv/sync_check.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <ostream>
#include <system_error>
#include <utility>

namespace tolvo::venv {

namespace fs = std::filesystem;

namespace {

// Existence following symbolic links: a dangling link is missing.
bool path_exists(const std::string& path)
{
  std::error_code error;
  return fs::exists(fs::path(path), error);
}

std::int64_t seconds_now()
{
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

std::string resolve_environment_path(const std::string& path)
{
  const fs::path normal = fs::absolute(fs::path(path)).lexically_normal();
  fs::path resolved = fs::weakly_canonical(normal);
  std::string text = resolved.string();
  // weakly_canonical keeps a trailing separator of a directory-like path.
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

struct VirtualEnvironment::LockHolder
{
  std::mutex mutex;
  std::optional<EnvironmentLock> lock;
};

VirtualEnvironment::VirtualEnvironment(const std::string& given, RefreshMode mode, Installer installer,
                                       bool system_site_packages)
  : path(resolve_environment_path(given)),
    python(path + "/bin/python"),
    pip(path + "/bin/pip"),
    m_mode(mode),
    m_lock(lock_holder(path)),
    m_installer(std::move(installer)),
    m_system_site_packages(system_site_packages)
{}

std::shared_ptr<VirtualEnvironment::LockHolder> VirtualEnvironment::lock_holder(const std::string& path)
{
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<LockHolder>> holders;
  const std::lock_guard<std::mutex> guard(mutex);
  std::weak_ptr<LockHolder>& slot = holders[path];
  std::shared_ptr<LockHolder> holder = slot.lock();
  if (!holder) {
    holder = std::make_shared<LockHolder>();
    slot = holder;
  }
  return holder;
}

void VirtualEnvironment::lock() const
{
  const std::lock_guard<std::mutex> guard(m_lock->mutex);
  if (!m_lock->lock) {
    m_lock->lock.emplace(path, platform::standard_console().out);
  }
}

void VirtualEnvironment::unlock() const
{
  const std::lock_guard<std::mutex> guard(m_lock->mutex);
  m_lock->lock.reset();
}

bool VirtualEnvironment::exists() const
{
  return path_exists(path) && path_exists(python) && path_exists(pip);
}

void VirtualEnvironment::run_or_skip(const InstallStep& step, bool satisfied) const
{
  if (!satisfied) {
    console::run_with_spinner(step.action, step.args, /*chronic=*/true);
    return;
  }
  const platform::ConsoleStreams console = platform::standard_console();
  console.out << console::skipped_step_line(step.action);
  console.out.flush();
}

void VirtualEnvironment::run_step(const InstallStep& step) const
{
  lock();
  if (m_mode == RefreshMode::always || step.target.empty()) {
    run_or_skip(step, false);
    return;
  }
  const std::string directory = std::filesystem::current_path().string();
  const ProjectState state = step.target.project ? project_state(directory) : ProjectState{};
  std::optional<RefreshRecord> record = load_record(path);
  if (record && record_holds(step.target, *record, directory, state)) {
    run_or_skip(step, true);
    return;
  }
  // A failed or interrupted step throws here: the record keeps what it
  // said of the last install that succeeded.
  run_or_skip(step, false);
  if (std::optional<RefreshRecord> updated = refreshed_record(path, python, std::move(record))) {
    if (step.target.project) {
      remember_project(*updated, directory, state);
    }
    save_record(path, *updated);
  }
}

void VirtualEnvironment::ensure() const
{
  lock();
  if (exists()) {
    // A changed setting changes the environment in place; the refresh
    // record, tied to pyvenv.cfg, then no longer counts.
    match_system_site_packages(path, m_system_site_packages);
    return;
  }
  if (m_mode == RefreshMode::when_needed) {
    // What was recorded of an earlier environment here says nothing of the new one.
    forget_record(path);
  }
  run_step(creation_step(path, m_installer, m_system_site_packages));
}

void VirtualEnvironment::ensure_pip() const
{
  if (m_installer.kind == InstallerKind::uv) {
    // uv installs without the environment's pip.
    return;
  }
  lock();
  if (m_mode == RefreshMode::always) {
    run_step(ensure_pip_step(python));
    run_step(upgrade_pip_step(install_command()));
    return;
  }
  const bool present = pip_present(path);
  run_or_skip(ensure_pip_step(python), present);
  std::optional<RefreshRecord> record = load_record(path);
  const std::int64_t now = seconds_now();
  // A freshly ensured pip is the interpreter's bundled one, often too old.
  if (present && record && !pip_upgrade_due(record->pip_upgraded, now)) {
    run_or_skip(upgrade_pip_step(install_command()), true);
    return;
  }
  run_or_skip(upgrade_pip_step(install_command()), false);
  if (std::optional<RefreshRecord> updated = refreshed_record(path, python, std::move(record))) {
    updated->pip_upgraded = now;
    save_record(path, *updated);
  }
}

void VirtualEnvironment::ensure_build_tools() const
{
  run_step(build_tools_step(install_command()));
}

void VirtualEnvironment::ensure_test_tools(const config::RequirementNames& tools) const
{
  run_step(test_tools_step(install_command(), tools));
}

void VirtualEnvironment::ensure_lint_tools() const
{
  run_step(lint_tools_step(install_command()));
}

void VirtualEnvironment::install(const std::vector<std::string>& extras, const std::vector<std::string>& groups) const
{
  run_step(requirements_step(install_command(), extras, groups));
}

std::optional<std::string> VirtualEnvironment::installed_version(std::string_view name) const
{
  SitePackages own(environment_site_packages(path));
  const SitePackages::Lookup found = own.find(name);
  if (found.state != SitePackages::State::found) {
    return std::nullopt;
  }
  return found.distribution->metadata.version;
}

platform::CompletedProcess VirtualEnvironment::run(const std::vector<std::string>& args,
                                                   const RunOptions& options) const
{
  // What runs in the environment uses it; only the install steps change it.
  unlock();
  platform::Environment merged = platform::current_environment();
  if (options.env) {
    for (const auto& [name, value] : *options.env) {
      merged[name] = value;
    }
  }
  std::vector<std::string> full{python};
  full.insert(full.end(), args.begin(), args.end());
  if (options.chronic) {
    return console::run_quietly(full, merged, true);
  }
  return platform::run_process(full, {.env = std::move(merged), .capture = options.capture_output});
}

VirtualEnvironment ensure_venv(const EnvironmentSettings& settings)
{
  VirtualEnvironment venv(".venv", settings.refresh, find_installer(settings.installer), settings.system_site_packages);
  venv.ensure();
  venv.ensure_pip();
  return venv;
}

} // namespace tolvo::venv
