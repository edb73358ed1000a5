#include "tolvo/platform/terminal.hpp"

#include "tolvo/platform/interruption.hpp"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

std::size_t stdout_columns()
{
  winsize size{};
  return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

} // namespace

ConsoleStreams standard_console()
{
  const bool terminal = stdout_is_terminal();
  const char* term = std::getenv("TERM");
  return ConsoleStreams{std::cout, std::cerr, terminal, terminal ? stdout_columns() : 0,
                        terminal_redraws(term == nullptr ? std::nullopt : std::optional<std::string_view>(term))};
}

bool terminal_redraws(std::optional<std::string_view> term)
{
  return term && !term->empty() && *term != "dumb";
}

bool stdout_is_terminal()
{
  return ::isatty(STDOUT_FILENO) == 1;
}

bool stdin_is_terminal()
{
  return ::isatty(STDIN_FILENO) == 1;
}

bool read_line(std::string& line)
{
  line.clear();
  bool read_any = false;
  while (true) {
    // The signal handlers restart interrupted reads, so the wait for input
    // must watch for an interruption itself.
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interruption_fd(), POLLIN, 0}};
    const int ready = ::poll(fds, interruption_fd() >= 0 ? 2 : 1, -1);
    raise_if_interrupted();
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    // One byte at a time, so nothing after the line is taken from the input.
    char byte = 0;
    const ssize_t count = ::read(STDIN_FILENO, &byte, 1);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (count <= 0) {
      return read_any;
    }
    read_any = true;
    if (byte == '\n') {
      return true;
    }
    line += byte;
  }
}

} // namespace tolvo::platform
