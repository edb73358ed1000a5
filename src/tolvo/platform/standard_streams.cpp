#include "tolvo/platform/standard_streams.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

bool is_closed(int fd)
{
  return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// A descriptor that reads as end of input and refuses writes; -1 when none
// can be made.
int closed_stand_in()
{
  const int fd = ::open("/dev/null", O_RDONLY);
  if (fd >= 0) {
    return fd;
  }
  // Without /dev/null (a bare chroot): the read end of a pipe whose write
  // end is closed behaves the same.
  int ends[2] = {-1, -1};
  if (::pipe(ends) != 0) {
    return -1;
  }
  ::close(ends[1]);
  return ends[0];
}

} // namespace

void hold_closed_standard_streams() noexcept
{
  for (int fd = 0; fd <= 2; ++fd) {
    if (!is_closed(fd)) {
      continue;
    }
    // The lowest free number is `fd` itself, as every lower one is taken.
    const int stand_in = closed_stand_in();
    if (stand_in >= 0 && stand_in != fd) {
      ::dup2(stand_in, fd);
      ::close(stand_in);
    }
  }
}

} // namespace tolvo::platform
