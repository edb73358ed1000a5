#include "tolvo/wheel/docker.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/process.hpp"

#include <cerrno>

namespace tolvo {

bool check_docker()
{
  try {
    return platform::run_process({"docker", "--version"}, {.env = std::nullopt, .capture = true}).returncode == 0;
  } catch (const StartError& error) {
    // Only a missing client means "no Docker"; anything else is reported.
    if (error.error_number() == ENOENT) {
      return false;
    }
    throw;
  }
}

} // namespace tolvo
