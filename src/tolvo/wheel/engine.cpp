#include "tolvo/wheel/engine.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/command_display.hpp"
#include "tolvo/platform/process.hpp"
#include "tolvo/wheel/engine_args.hpp"

#include <cerrno>
#include <filesystem>

namespace tolvo::wheel {

bool check_docker()
{
  try {
    return platform::run_process({std::string(DOCKER_PROGRAM), "--version"}, {.env = std::nullopt, .capture = true})
             .returncode == 0;
  } catch (const StartError& error) {
    // Only a missing client means "no Docker"; anything else is reported.
    if (error.error_number() == ENOENT) {
      return false;
    }
    throw;
  }
}

void require_docker()
{
  if (!check_docker()) {
    throw PreconditionFailure("Error: Docker is not available");
  }
}

std::string volume_mount()
{
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  if (error) {
    throw SystemError("getcwd: " + error.message(), error.value());
  }
  return cwd.string() + ":" + std::string(MOUNT_POINT);
}

void run_engine(const std::vector<std::string>& args)
{
  // The process layer flushes our output before the container writes to
  // the terminal.
  const platform::CompletedProcess result = platform::run_process(args);
  if (result.returncode != 0) {
    throw platform::failed_run(result);
  }
}

void register_emulation()
{
  run_engine(emulation_registration_args());
}

} // namespace tolvo::wheel
