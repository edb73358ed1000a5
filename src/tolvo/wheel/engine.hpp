#pragma once

// Running the Docker client: the availability probe, and container runs
// with output on the terminal whose failure is an error.

#include <string>
#include <vector>

namespace tolvo::wheel {

/// Whether the Docker client can be run and reports its version; false
/// when no "docker" is on the search path.
bool check_docker();

/// Throws PreconditionFailure "Error: Docker is not available" unless
/// check_docker(): the precondition of every container operation.
void require_docker();

/// The absolute current working directory followed by ":/src".
std::string volume_mount();

/// Runs `args` with output on the terminal and waits. Throws
/// CalledProcessError naming the command line and the status when the
/// status is not 0.
void run_engine(const std::vector<std::string>& args);

/// Registers CPU emulation in the host kernel through a privileged container.
void register_emulation();

} // namespace tolvo::wheel
