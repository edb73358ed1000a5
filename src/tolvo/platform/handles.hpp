#pragma once

// Owners of the operating system's handles: a file descriptor and a
// directory stream, each closed exactly once, by whoever holds it last.

#include <dirent.h>
#include <memory>
#include <utility>

namespace tolvo::platform {

/// Owns an open file descriptor and closes it; -1 when it holds none.
class UniqueFd
{
public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept
    : m_fd(fd)
  {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept
    : m_fd(other.release())
  {}
  UniqueFd& operator=(UniqueFd&& other) noexcept
  {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return m_fd; }

  bool is_open() const noexcept { return m_fd >= 0; }

  /// Hands the descriptor over to the caller, who closes it from now on.
  [[nodiscard]] int release() noexcept { return std::exchange(m_fd, -1); }

  /// Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd = -1) noexcept;

private:
  int m_fd = -1;
};

/// The two ends of a pipe.
struct Pipe
{
  UniqueFd read_end;
  UniqueFd write_end;
};

/// Opens a pipe with pipe2's `flags` into `pipe`; 0, or the errno.
int open_pipe(Pipe& pipe, int flags) noexcept;

struct DirectoryStreamCloser
{
  void operator()(DIR* stream) const noexcept { ::closedir(stream); }
};

/// Owns an open directory stream (opendir, fdopendir) and closes it.
using DirectoryStream = std::unique_ptr<DIR, DirectoryStreamCloser>;

} // namespace tolvo::platform
