// The runners live apart from the argument lists so that the pure half of
// the engine interface links without the process layer.

#include "tolvo/errors.hpp"
#include "tolvo/platform/process.hpp"
#include "tolvo/platform/python_repr.hpp"
#include "tolvo/wheel/docker.hpp"
#include "tolvo/wheel/engine.hpp"

#include <cstdio>
#include <iostream>

namespace tolvo::wheel {

void run_engine(const std::vector<std::string>& args)
{
  // The container writes straight to the terminal; ours must come first.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const platform::CompletedProcess result = platform::run_process(args);
  if (result.returncode != 0) {
    // A client killed by a signal has no exit status of its own to name.
    const std::string ending = result.returncode < 0
                                 ? "died with signal " + std::to_string(-result.returncode) + "."
                                 : "returned non-zero exit status " + std::to_string(result.returncode) + ".";
    throw RuntimeError("Command " + platform::python_list_display(args) + " " + ending);
  }
}

void register_emulation()
{
  run_engine(emulation_registration_args());
}

void require_docker()
{
  if (!tolvo::check_docker()) {
    std::cerr << "Error: Docker is not available" << std::endl;
    throw ExitRequest(1);
  }
}

} // namespace tolvo::wheel
