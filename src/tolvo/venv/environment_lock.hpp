#pragma once

// One tolvo at a time changes an environment: creating it, running pip in
// it, writing its record. The lock is a file in the environment directory,
// which is made first when missing; a second tolvo says once that it waits,
// and a signal ends its wait at once.

#include "tolvo/platform/file_lock.hpp"

#include <chrono>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tolvo::venv {

/// The lock file inside the environment directory.
inline constexpr std::string_view LOCK_FILE = "tolvo.lock";

/// What a tolvo that has to wait says, once, with a line break.
inline constexpr std::string_view WAITING_LINE = "Waiting for another tolvo to finish with .venv...";

/// How often a waiting tolvo tries the lock again.
inline constexpr std::chrono::milliseconds LOCK_RETRY{50};

/// The exclusive lock on the environment at `venv_path`, held while the
/// object lives.
class EnvironmentLock
{
public:
  /// Takes the lock, creating the environment directory when missing and
  /// writing WAITING_LINE to `out` first when it has to wait. Throws
  /// Interrupted when a signal ends the wait, SystemError when the
  /// directory or the lock file cannot be made.
  EnvironmentLock(const std::string& venv_path, std::ostream& out);

private:
  platform::FileLock m_lock;
};

} // namespace tolvo::venv
