#include "tolvo/platform/handles.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tolvo::platform {

void UniqueFd::reset(int fd) noexcept
{
  // close() is not retried on EINTR: on Linux the descriptor is gone
  // either way, and a retry could close one another thread just opened.
  if (m_fd >= 0) {
    ::close(m_fd);
  }
  m_fd = fd;
}

int open_pipe(Pipe& pipe, int flags) noexcept
{
  int ends[2] = {-1, -1};
  if (::pipe2(ends, flags) != 0) {
    return errno;
  }
  pipe.read_end.reset(ends[0]);
  pipe.write_end.reset(ends[1]);
  return 0;
}

} // namespace tolvo::platform
