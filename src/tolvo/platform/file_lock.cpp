#include "tolvo/platform/file_lock.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <utility>

namespace tolvo::platform {

namespace {

[[noreturn]] void fail(const char* action, const std::string& path, int error)
{
  throw SystemError(std::string("cannot ") + action + " '" + shown_path(path) + "': " + std::strerror(error), error);
}

UniqueFd open_lock_file(const std::string& path)
{
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.is_open() && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    // Read-only to us: whoever may change the directory still locks it.
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  }
  return fd;
}

// Whether `path` still names the file open on `fd`: one removed between
// our open() and flock() is locked by nobody who comes after.
bool still_there(int fd, const std::string& path)
{
  struct stat held
  {};
  struct stat named
  {};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

} // namespace

std::optional<FileLock> FileLock::try_take(const std::string& path)
{
  UniqueFd fd = open_lock_file(path);
  if (!fd.is_open()) {
    fail("open lock file", path, errno);
  }
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return std::nullopt;
    }
    if (errno != EINTR) {
      fail("lock", path, errno);
    }
  }
  if (!still_there(fd.get(), path)) {
    return std::nullopt;
  }
  return FileLock(std::move(fd));
}

FileLock::FileLock(UniqueFd fd) noexcept
  : m_fd(std::move(fd))
{}

} // namespace tolvo::platform
