#include "tolvo/build/sdist.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"

#include <iostream>

namespace tolvo::build {

void build_sdist(const venv::VirtualEnvironment& venv)
{
  if (!venv.exists()) {
    throw PreconditionFailure("Error: Virtual environment not found. Run 'tolvo requirements' first.");
  }
  platform::make_directory("dist");
  // Flushed so the line comes before the front end's own output.
  std::cout << "Building sdist..." << std::endl;
  if (venv.run({"-um", "build", "--sdist"}).returncode != 0) {
    throw OperationFailed("sdist build failed");
  }
  std::cout << "sdist built successfully" << std::endl;
}

} // namespace tolvo::build
