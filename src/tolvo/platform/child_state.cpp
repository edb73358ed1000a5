#include "tolvo/platform/child_state.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <signal.h>
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

// How long the output of an ended child is still waited for. A background
// process it left behind may hold the pipes open for ever; what it wrote
// until then is kept.
constexpr std::chrono::milliseconds LINGER_GRACE{500};

} // namespace

ChildProcess::State::~State()
{
  if (pid > 0 && !reaped) {
    signal_tree(SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  // The pipes and the pidfd close as the members go.
}

void ChildProcess::State::try_reap()
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
    reaped_at = Clock::now();
    returncode = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    pid_fd.reset();
  } else if (done < 0) {
    throw SystemError(std::string("waitpid: ") + std::strerror(errno), errno);
  }
}

void ChildProcess::State::signal_tree(int number) const
{
  ::kill(own_group ? -pid : pid, number);
}

bool ChildProcess::State::group_left() const
{
  return own_group && !group_killed && ::kill(-pid, 0) == 0;
}

bool ChildProcess::State::finished()
{
  if (!reaped) {
    return false;
  }
  if (interruption_count() != 0) {
    return !group_left();
  }
  if (!out_fd.is_open() && !err_fd.is_open()) {
    return true;
  }
  if (Clock::now() - reaped_at < LINGER_GRACE) {
    return false;
  }
  take_what_is_left(out_fd, out_text);
  take_what_is_left(err_fd, err_text);
  return true;
}

void ChildProcess::State::answer_interruption()
{
  const unsigned count = interruption_count();
  if ((reaped && !group_left()) || count == 0) {
    return;
  }
  if (answered == 0) {
    if (own_group || !interruption_reached_children() || started_during_interruption) {
      signal_tree(interruption_signal());
    }
    kill_at = Clock::now() + INTERRUPT_GRACE;
  }
  if (count >= 2 && count != answered) {
    kill_now();
  }
  answered = count;
  if (kill_at && Clock::now() >= *kill_at) {
    kill_now();
  }
}

void ChildProcess::State::kill_now()
{
  signal_tree(SIGKILL);
  group_killed = own_group;
  kill_at.reset();
}

void ChildProcess::State::take_what_is_left(UniqueFd& fd, std::string& sink)
{
  while (fd.is_open()) {
    drain(fd, sink);
    if (fd.is_open() && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      fd.reset();
    }
  }
}

void ChildProcess::State::drain(UniqueFd& fd, std::string& sink)
{
  char buffer[65536];
  errno = 0;
  const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
  if (count > 0) {
    sink.append(buffer, static_cast<std::size_t>(count));
  } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
    fd.reset();
  }
}

void ChildProcess::State::poll_once(int ms)
{
  answer_interruption();
  pollfd fds[4];
  nfds_t count = 0;
  UniqueFd* owners[4] = {nullptr, nullptr, nullptr, nullptr};
  std::string* sinks[4] = {nullptr, nullptr, nullptr, nullptr};
  if (out_fd.is_open()) {
    fds[count] = {out_fd.get(), POLLIN, 0};
    owners[count] = &out_fd;
    sinks[count++] = &out_text;
  }
  if (err_fd.is_open()) {
    fds[count] = {err_fd.get(), POLLIN, 0};
    owners[count] = &err_fd;
    sinks[count++] = &err_text;
  }
  const bool watch_child = !reaped && pid_fd.is_open();
  if (watch_child) {
    fds[count++] = {pid_fd.get(), POLLIN, 0};
  }
  // The self-pipe wakes us at the first signal; once interrupted it stays
  // readable, so from then on the clock paces the loop instead.
  const bool interrupted = interruption_count() != 0;
  if (!interrupted && interruption_fd() >= 0) {
    fds[count++] = {interruption_fd(), POLLIN, 0};
  }
  // Without a pidfd the child's end cannot be polled: look again often.
  int wait_ms = (!reaped && !pid_fd.is_open()) ? (ms < 0 ? 10 : std::min(ms, 10)) : ms;
  if (interrupted) {
    wait_ms = wait_ms < 0 ? INTERRUPTED_POLL_MS : std::min(wait_ms, INTERRUPTED_POLL_MS);
  } else if (reaped) {
    // Ended, output still open: wake when the lingering grace is over.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(reaped_at + LINGER_GRACE - Clock::now());
    const int left_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0) + 1);
    wait_ms = wait_ms < 0 ? left_ms : std::min(wait_ms, left_ms);
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

} // namespace tolvo::platform
