#include "tolvo/platform/terminal.hpp"

#include <unistd.h>

namespace tolvo::platform {

bool stdout_is_terminal()
{
  return ::isatty(STDOUT_FILENO) == 1;
}

bool stdin_is_terminal()
{
  return ::isatty(STDIN_FILENO) == 1;
}

} // namespace tolvo::platform
