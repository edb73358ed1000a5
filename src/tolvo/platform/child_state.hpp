#pragma once

// The state of a running child behind ChildProcess: its pipes, how it ended,
// and how an interruption is passed on to its tree. Internal to the process
// layer.

#include "tolvo/platform/handles.hpp"
#include "tolvo/platform/process.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvo::platform {

struct ChildProcess::State
{
  using Clock = std::chrono::steady_clock;

  std::vector<std::string> args;
  pid_t pid = -1;
  // The child leads a process group of its own: signals go to the group, so
  // they reach its whole tree.
  bool own_group = false;
  UniqueFd out_fd;
  UniqueFd err_fd;
  UniqueFd pid_fd;
  bool capture = false;
  bool reaped = false;
  int returncode = 0;
  std::string out_text;
  std::string err_text;
  // Interruption: how many signals this child has been answered for, whether
  // it may have been started too late to get a terminal's signal itself,
  // and when it is killed if it has not ended by then.
  unsigned answered = 0;
  bool started_during_interruption = false;
  std::optional<Clock::time_point> kill_at;
  bool group_killed = false;
  Clock::time_point reaped_at;

  State() = default;
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  void try_reap();

  void signal_tree(int number) const;

  /// Whether any process of the child's group is left. Only asked of a group
  /// whose leader has been reaped, whose id then stays taken while it has
  /// members.
  bool group_left() const;

  /// Ended, and its output read to the end or given up on. After an
  /// interruption the rest of the child's group must have ended too (or been
  /// killed); its output is not waited for: nobody will read it.
  bool finished();

  /// Passes an interruption on to the child's tree: the signal itself unless
  /// the terminal sent it to the tool's process group, which the child
  /// shares, already; SIGKILL when the grace period is over or the signal
  /// came again.
  void answer_interruption();

  void kill_now();

  /// Reads what the pipe holds now, then closes it.
  void take_what_is_left(UniqueFd& fd, std::string& sink);

  void drain(UniqueFd& fd, std::string& sink);

  /// Waits for activity on the pipes or the child for at most `ms`.
  void poll_once(int ms);
};

} // namespace tolvo::platform
