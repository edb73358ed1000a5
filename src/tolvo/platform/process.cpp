#include "tolvo/platform/process.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/spawn.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long an interrupted child may take to end before it is killed, so
// that a child ignoring the signal cannot keep the tool from ending.
constexpr std::chrono::seconds INTERRUPT_GRACE{3};

// How often an interrupted wait looks at the clock and for a repeated signal.
constexpr int INTERRUPTED_POLL_MS = 100;

void close_fd(int& fd)
{
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

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

struct ChildProcess::State
{
  std::vector<std::string> args;
  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
  int pid_fd = -1;
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

  ~State()
  {
    if (pid > 0 && !reaped) {
      ::kill(pid, SIGKILL);
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    close_fd(out_fd);
    close_fd(err_fd);
    close_fd(pid_fd);
  }

  void try_reap()
  {
    if (reaped) {
      return;
    }
    int status = 0;
    pid_t done = 0;
    do {
      done = ::waitpid(pid, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == pid) {
      reaped = true;
      returncode = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
      close_fd(pid_fd);
    } else if (done < 0) {
      throw SystemError(std::string("waitpid: ") + std::strerror(errno), errno);
    }
  }

  // Ended, and its output read to the end. An interrupted run does not wait
  // for the end of output that a surviving grandchild may still hold open:
  // nobody will read it.
  bool finished() const
  {
    return reaped && ((out_fd < 0 && err_fd < 0) || interruption_count() != 0);
  }

  // Passes an interruption on to the child: the signal itself unless the
  // terminal sent it to the whole process group already, SIGKILL when the
  // grace period is over or the signal came again.
  void answer_interruption()
  {
    const unsigned count = interruption_count();
    if (reaped || count == 0) {
      return;
    }
    if (answered == 0) {
      if (!interruption_reached_children() || started_during_interruption) {
        ::kill(pid, interruption_signal());
      }
      kill_at = Clock::now() + INTERRUPT_GRACE;
    }
    if (count >= 2 && count != answered) {
      ::kill(pid, SIGKILL);
    }
    answered = count;
    if (kill_at && Clock::now() >= *kill_at) {
      ::kill(pid, SIGKILL);
      kill_at.reset();
    }
  }

  void drain(int& fd, std::string& sink)
  {
    char buffer[65536];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      sink.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
      close_fd(fd);
    }
  }

  // Waits for activity on the pipes or the child for at most `ms`.
  void poll_once(int ms)
  {
    answer_interruption();
    pollfd fds[4];
    nfds_t count = 0;
    int* owners[4] = {nullptr, nullptr, nullptr, nullptr};
    std::string* sinks[4] = {nullptr, nullptr, nullptr, nullptr};
    if (out_fd >= 0) {
      fds[count] = {out_fd, POLLIN, 0};
      owners[count] = &out_fd;
      sinks[count++] = &out_text;
    }
    if (err_fd >= 0) {
      fds[count] = {err_fd, POLLIN, 0};
      owners[count] = &err_fd;
      sinks[count++] = &err_text;
    }
    const bool watch_child = !reaped && pid_fd >= 0;
    if (watch_child) {
      fds[count++] = {pid_fd, POLLIN, 0};
    }
    // The self-pipe wakes us at the first signal; once interrupted it stays
    // readable, so from then on the clock paces the loop instead.
    const bool interrupted = interruption_count() != 0;
    if (!interrupted && interruption_fd() >= 0) {
      fds[count++] = {interruption_fd(), POLLIN, 0};
    }
    // Without a pidfd the child's end cannot be polled: look again often.
    int wait_ms = (!reaped && pid_fd < 0) ? (ms < 0 ? 10 : std::min(ms, 10)) : ms;
    if (interrupted) {
      wait_ms = wait_ms < 0 ? INTERRUPTED_POLL_MS : std::min(wait_ms, INTERRUPTED_POLL_MS);
    }
    const int ready = ::poll(fds, count, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) {
        return;
      }
      throw SystemError(std::string("poll: ") + std::strerror(errno), errno);
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (owners[i] != nullptr && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        drain(*owners[i], *sinks[i]);
      }
    }
    try_reap();
  }
};

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
  const auto deadline = Clock::now() + timeout;
  while (!m_state->finished()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
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
