#pragma once

// Building the project's source distribution into "dist".

#include "tolvo/venv/virtual_environment.hpp"

namespace tolvo::build {

/// Builds the source distribution into "dist" with the environment's
/// interpreter. Throws PreconditionFailure when there is no environment,
/// OperationFailed "sdist build failed" when the build front end fails.
void build_sdist(const venv::VirtualEnvironment& venv);

} // namespace tolvo::build
