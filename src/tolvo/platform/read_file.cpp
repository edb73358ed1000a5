#include "tolvo/platform/read_file.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/handles.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

struct ReadFailure
{
  int error = 0;
  bool opening = false;
};

// Reads the regular file at `path` into `bytes`, stopping after the first
// read that brings `terminator` in (never, when it is empty). Opened
// without blocking and checked before reading.
ReadFailure read_into(const std::string& path, std::string_view terminator, std::string& bytes)
{
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.is_open()) {
    return {errno, true};
  }
  const int fd = file.get();
  struct stat info
  {};
  int error = ::fstat(fd, &info) == 0 ? 0 : errno;
  if (error == 0 && S_ISDIR(info.st_mode)) {
    return {EISDIR, true};
  }
  if (error == 0 && !S_ISREG(info.st_mode)) {
    return {EINVAL, false};
  }
  // A regular file reads alike with or without O_NONBLOCK; the flag is
  // cleared only if a read says otherwise, which saves two system calls on
  // each of the many small files a judgement reads.
  bool blocking = false;
  char buffer[65536];
  while (error == 0) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      const std::size_t searched_from = bytes.size() < terminator.size() ? 0 : bytes.size() - terminator.size();
      bytes.append(buffer, static_cast<std::size_t>(count));
      if (!terminator.empty() && bytes.find(terminator, searched_from) != std::string::npos) {
        break;
      }
    } else if (count == 0) {
      break;
    } else if (errno == EAGAIN && !blocking) {
      blocking = true;
      if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = errno;
      }
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  return {error, false};
}

} // namespace

std::string read_regular_file(const std::string& path)
{
  std::string bytes;
  const ReadFailure failure = read_into(path, {}, bytes);
  if (failure.error == EINVAL) {
    throw SystemError("cannot read '" + path + "': not a regular file", EINVAL);
  }
  if (failure.error != 0) {
    throw SystemError(std::string(failure.opening ? "cannot open '" : "cannot read '") + path +
                        "': " + std::strerror(failure.error),
                      failure.error);
  }
  return bytes;
}

std::optional<std::string> read_file_until(const std::string& path, std::string_view terminator)
{
  std::string bytes;
  if (read_into(path, terminator, bytes).error != 0) {
    return std::nullopt;
  }
  return bytes;
}

} // namespace tolvo::platform
