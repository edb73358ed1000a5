#pragma once

// An exclusive flock() on a lock file, held while the object lives. The
// lock goes with the open file, so a process that dies lets it go, and no
// child gets it (the descriptor is close-on-exec).

#include "tolvo/platform/handles.hpp"

#include <optional>
#include <string>

namespace tolvo::platform {

class FileLock
{
public:
  /// Takes the lock on the file at `path`, created when missing, if no one
  /// holds it; none when someone does, or when the file at `path` was
  /// removed or replaced meanwhile (the lock would guard nothing). A file
  /// that cannot be created is opened for reading, which still locks.
  /// Throws SystemError when it cannot be opened at all or locked.
  static std::optional<FileLock> try_take(const std::string& path);

private:
  explicit FileLock(UniqueFd fd) noexcept;
  // Closing the only descriptor of the open file releases the lock.
  UniqueFd m_fd;
};

} // namespace tolvo::platform
