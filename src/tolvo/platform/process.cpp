#include "tolvo/platform/process.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/child_state.hpp"
#include "tolvo/platform/handles.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/spawn.hpp"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace tolvo::platform {

namespace {

UniqueFd open_pidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
  UniqueFd fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (fd.is_open()) {
    // No child may inherit it.
    static_cast<void>(::fcntl(fd.get(), F_SETFD, FD_CLOEXEC));
  }
  return fd;
#else
  (void)pid;
  return {};
#endif
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const SpawnOptions& options)
  : m_state(std::make_unique<State>())
{
  // No new child once the tool has been told to stop.
  raise_if_interrupted();
  m_state->args = args;
  m_state->capture = options.capture;
  if (args.empty()) {
    throw StartError("", "cannot run an empty argument list", EINVAL);
  }

  Spawned spawned = spawn(args, options);
  m_state->pid = spawned.pid;
  m_state->own_group = spawned.own_group;
  // A signal that came while we were starting it may have missed it.
  m_state->started_during_interruption = interruption_count() != 0;
  m_state->out_fd = std::move(spawned.out_fd);
  m_state->err_fd = std::move(spawned.err_fd);
  m_state->pid_fd = open_pidfd(spawned.pid);
}

ChildProcess::~ChildProcess() = default;

ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;

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
