#include "tolvo/platform/standard_streams.hpp"

#include "tolvo/platform/handles.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace tolvo::platform {

namespace {

bool is_closed(int fd)
{
  return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// A descriptor that reads as end of input and refuses writes; none when
// none can be made.
UniqueFd closed_stand_in()
{
  UniqueFd fd(::open("/dev/null", O_RDONLY));
  if (fd.is_open()) {
    return fd;
  }
  // Without /dev/null (a bare chroot): the read end of a pipe whose write
  // end is closed behaves the same.
  Pipe pipe;
  if (open_pipe(pipe, 0) != 0) {
    return {};
  }
  return std::move(pipe.read_end);
}

} // namespace

void hold_closed_standard_streams() noexcept
{
  for (int fd = 0; fd <= 2; ++fd) {
    if (!is_closed(fd)) {
      continue;
    }
    // The lowest free number is `fd` itself, as every lower one is taken.
    UniqueFd stand_in = closed_stand_in();
    if (stand_in.get() == fd) {
      // Stands in for the stream as long as the process lives.
      static_cast<void>(stand_in.release());
    } else if (stand_in.is_open()) {
      ::dup2(stand_in.get(), fd);
    }
  }
}

} // namespace tolvo::platform
