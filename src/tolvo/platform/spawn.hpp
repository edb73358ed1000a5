#pragma once

// Starting a child: the program found on the PATH it will see, pipes for
// captured output, signal dispositions reset. Internal to the process layer.

#include "tolvo/platform/process.hpp"

#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvo::platform {

/// A child just started: its pid, whether it leads a process group of its
/// own (its pid is the group's id), and the non-blocking read ends of its
/// output pipes (-1 when not captured).
struct Spawned
{
  pid_t pid = -1;
  bool own_group = false;
  int out_fd = -1;
  int err_fd = -1;
};

/// Starts `args`. Throws StartError when the program cannot be started.
Spawned spawn(const std::vector<std::string>& args, const SpawnOptions& options);

} // namespace tolvo::platform
