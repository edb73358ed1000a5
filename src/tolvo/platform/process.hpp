#pragma once

// Child processes on POSIX: started from an argument list (never a shell),
// standard input inherited, standard output and standard error either left
// on the terminal or captured separately through close-on-exec pipes that
// are drained while waiting, so a child that writes more than a pipe holds
// always finishes.
//
// A child leads a process group of its own, unless it is started in the
// open on the terminal the user is at (it may read the terminal, and the
// terminal's signals reach it directly).
//
// Interruption (see interruption.hpp): a waiting child's tree gets the
// signal the tool got, unless the terminal sent it to the child as well, and
// SIGKILL when it has not ended a few seconds later or the signal comes
// again. Only once the child has ended does the wait raise Interrupted;
// after an interruption no new child is started.

#include "tolvo/platform/program_search.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvo::platform {

/// The record of a finished child.
struct CompletedProcess
{
  /// The argument list exactly as the child was started (program first).
  std::vector<std::string> args;
  /// Exit status; minus the signal number for a child ended by a signal.
  int returncode = 0;
  /// Captured texts; absent when the stream was not captured.
  std::optional<std::string> stdout_text;
  std::optional<std::string> stderr_text;
};

/// How a child is started.
struct SpawnOptions
{
  /// Replaces the child's environment when given; inherited otherwise.
  std::optional<Environment> env;
  /// Capture standard output and standard error (separately) when true.
  bool capture = false;
};

/// A running child. Destroying one that has not ended kills and reaps it,
/// so no child outlives the object that started it.
class ChildProcess
{
public:
  /// Starts `args` (program looked up on the PATH of the environment the
  /// child gets). Throws StartError when the program cannot be started,
  /// Interrupted when the tool has been interrupted.
  ChildProcess(const std::vector<std::string>& args, const SpawnOptions& options);
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) = delete;

  /// Waits at most `timeout` for the child to end, draining its pipes
  /// meanwhile. Returns true once the child has ended and both pipes are at
  /// end of file, or half a second after it ended while a process it left
  /// behind still holds them. Throws Interrupted once an interrupted child
  /// and the rest of its process group have ended.
  bool wait_for(std::chrono::milliseconds timeout);

  /// Waits until the child has ended; throws Interrupted as wait_for does.
  void wait();

  /// The record of the ended child; call after wait() or a true wait_for().
  CompletedProcess take_result();

  pid_t pid() const noexcept;

private:
  struct State;
  // Behind a pointer, as it is internal to the process layer
  // (child_state.hpp); null only in a moved-from object.
  std::unique_ptr<State> m_state;
};

/// Starts `args`, waits for it and returns its record.
CompletedProcess run_process(const std::vector<std::string>& args, const SpawnOptions& options = {});

} // namespace tolvo::platform
