#pragma once

// The Docker client as seen from the tool.

namespace tolvo {

/// Whether the Docker client can be run and reports its version; false
/// when no "docker" is on the search path.
bool check_docker();

} // namespace tolvo
