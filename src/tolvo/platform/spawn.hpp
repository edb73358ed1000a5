#pragma once

// Starting a child: the program found on the PATH it will see, pipes for
// captured output, signal dispositions reset. Internal to the process layer.

#include "tolvo/platform/handles.hpp"
#include "tolvo/platform/process.hpp"

#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvo::platform {

/// A child just started: its pid, whether it leads a process group of its
/// own (its pid is the group's id), and the non-blocking read ends of its
/// output pipes (none when not captured).
struct Spawned
{
  pid_t pid = -1;
  bool own_group = false;
  UniqueFd out_fd;
  UniqueFd err_fd;
};

/// Starts `args`. Throws StartError when the program cannot be started.
Spawned spawn(const std::vector<std::string>& args, const SpawnOptions& options);

/// The file actions of a start of `program`, destroyed with the object.
/// A call that fails throws StartError("cannot run '<program>': <call>:
/// <reason>").
class SpawnFileActions
{
public:
  explicit SpawnFileActions(std::string program);
  ~SpawnFileActions();
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  void add_dup2(int fd, int target);

  const posix_spawn_file_actions_t* get() const noexcept { return &m_actions; }

private:
  std::string m_program;
  posix_spawn_file_actions_t m_actions{};
};

/// The attributes of a start of `program`, destroyed with the object; its
/// calls fail as those of SpawnFileActions do.
class SpawnAttributes
{
public:
  explicit SpawnAttributes(std::string program);
  ~SpawnAttributes();
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  void set_signal_defaults(const sigset_t& signals);
  void set_signal_mask(const sigset_t& signals);
  void set_process_group(pid_t group);
  void set_flags(short flags);

  const posix_spawnattr_t* get() const noexcept { return &m_attributes; }

private:
  std::string m_program;
  posix_spawnattr_t m_attributes{};
};

} // namespace tolvo::platform
