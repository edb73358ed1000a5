#include "tolvo/venv/environment_lock.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"
#include "tolvo/platform/interruption.hpp"

#include <cerrno>
#include <optional>
#include <ostream>
#include <utility>

namespace tolvo::venv {

namespace {

// The lock when it is free. The directory is made on every attempt: a
// `clean` that held the lock may just have removed it.
std::optional<platform::FileLock> attempt(const std::string& venv_path)
{
  platform::make_directory(venv_path);
  try {
    return platform::FileLock::try_take(venv_path + "/" + std::string(LOCK_FILE));
  } catch (const SystemError& error) {
    // Removed again since it was made: someone else is at work on it.
    if (error.error_number() == ENOENT) {
      return std::nullopt;
    }
    throw;
  }
}

platform::FileLock wait_for_lock(const std::string& venv_path, std::ostream& out)
{
  std::optional<platform::FileLock> lock = attempt(venv_path);
  if (!lock) {
    out << WAITING_LINE << '\n' << std::flush;
  }
  while (!lock) {
    platform::pause_for(LOCK_RETRY);
    lock = attempt(venv_path);
  }
  return std::move(*lock);
}

} // namespace

EnvironmentLock::EnvironmentLock(const std::string& venv_path, std::ostream& out)
  : m_lock(wait_for_lock(venv_path, out))
{}

} // namespace tolvo::venv
