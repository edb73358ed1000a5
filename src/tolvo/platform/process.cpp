#include "tolvo/platform/process.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/child_state.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/spawn.hpp"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

int open_pidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const SpawnOptions& options)
  : m_state(new State)
{
  std::unique_ptr<State> state(m_state);
  // No new child once the tool has been told to stop.
  raise_if_interrupted();
  state->args = args;
  state->capture = options.capture;
  if (args.empty()) {
    throw StartError("", "cannot run an empty argument list", EINVAL);
  }

  const Spawned spawned = spawn(args, options);
  state->pid = spawned.pid;
  state->own_group = spawned.own_group;
  // A signal that came while we were starting it may have missed it.
  state->started_during_interruption = interruption_count() != 0;
  state->out_fd = spawned.out_fd;
  state->err_fd = spawned.err_fd;
  state->pid_fd = open_pidfd(spawned.pid);
  state.release();
}

ChildProcess::~ChildProcess()
{
  delete m_state;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
  : m_state(other.m_state)
{
  other.m_state = nullptr;
}

bool ChildProcess::wait_for(std::chrono::milliseconds timeout)
{
  const auto deadline = State::Clock::now() + timeout;
  while (!m_state->finished()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - State::Clock::now()).count();
    if (left <= 0) {
      return false;
    }
    m_state->poll_once(static_cast<int>(left));
  }
  raise_if_interrupted();
  return true;
}

void ChildProcess::wait()
{
  while (!m_state->finished()) {
    m_state->poll_once(-1);
  }
  raise_if_interrupted();
}

CompletedProcess ChildProcess::take_result()
{
  CompletedProcess result;
  result.args = m_state->args;
  result.returncode = m_state->returncode;
  if (m_state->capture) {
    result.stdout_text = std::move(m_state->out_text);
    result.stderr_text = std::move(m_state->err_text);
  }
  return result;
}

pid_t ChildProcess::pid() const noexcept
{
  return m_state->pid;
}

CompletedProcess run_process(const std::vector<std::string>& args, const SpawnOptions& options)
{
  ChildProcess child(args, options);
  child.wait();
  return child.take_result();
}

} // namespace tolvo::platform
