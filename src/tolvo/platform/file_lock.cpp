#include "tolvo/platform/file_lock.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvo::platform {

namespace {

[[noreturn]] void fail(const char* action, const std::string& path, int error)
{
  throw SystemError(std::string("cannot ") + action + " '" + shown_path(path) + "': " + std::strerror(error), error);
}

int open_lock_file(const std::string& path)
{
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    // Read-only to us: whoever may change the directory still locks it.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  const int fd = open_lock_file(path);
  if (fd < 0) {
    fail("open lock file", path, errno);
  }
  FileLock lock(fd);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return std::nullopt;
    }
    if (errno != EINTR) {
      fail("lock", path, errno);
    }
  }
  if (!still_there(fd, path)) {
    return std::nullopt;
  }
  return lock;
}

FileLock::FileLock(int fd) noexcept
  : m_fd(fd)
{}

FileLock::~FileLock()
{
  // Closing the only descriptor of the open file releases the lock.
  if (m_fd >= 0) {
    ::close(m_fd);
  }
}

FileLock::FileLock(FileLock&& other) noexcept
  : m_fd(std::exchange(other.m_fd, -1))
{}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
  if (this != &other) {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

} // namespace tolvo::platform
