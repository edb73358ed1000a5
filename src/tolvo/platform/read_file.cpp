#include "tolvo/platform/read_file.hpp"

#include "tolvo/errors.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvo::platform {

std::string read_regular_file(const std::string& path)
{
  // Opened without blocking and checked before reading.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw SystemError("cannot open '" + path + "': " + std::strerror(error), error);
  }
  struct stat info {};
  int error = ::fstat(fd, &info) == 0 ? 0 : errno;
  if (error == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw SystemError("cannot open '" + path + "': " + std::strerror(EISDIR), EISDIR);
  }
  if (error == 0 && !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw SystemError("cannot read '" + path + "': not a regular file", EINVAL);
  }
  std::string bytes;
  if (error == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  char buffer[65536];
  while (error == 0) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      bytes.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  ::close(fd);
  if (error != 0) {
    throw SystemError("cannot read '" + path + "': " + std::strerror(error), error);
  }
  return bytes;
}

} // namespace tolvo::platform
