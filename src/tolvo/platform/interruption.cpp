#include "tolvo/platform/interruption.hpp"

#include "tolvo/errors.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<unsigned>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::atomic<int> g_signal{0};
std::atomic<unsigned> g_count{0};
std::atomic<bool> g_reached_children{false};
// Which of INTERRUPTING_SIGNALS are caught, one bit each.
std::atomic<unsigned> g_caught{0};
// The self-pipe lives as long as the process: threads may still poll it
// while the handlers are being restored, and even during exit. Plain
// descriptors, never closed, for that reason.
int g_pipe[2] = {-1, -1};

void on_signal(int number, siginfo_t* info, void* /*context*/)
{
  const int saved_errno = errno;
  bool first = false;
  if (g_signal.load() == 0) {
    // SI_KERNEL marks a signal the terminal driver sent to the foreground group.
    g_reached_children.store(info != nullptr && info->si_code == SI_KERNEL);
    int expected = 0;
    first = g_signal.compare_exchange_strong(expected, number);
  }
  // Counted before the wake-up, so a woken waiter always sees the signal.
  g_count.fetch_add(1);
  if (first && g_pipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
  }
  errno = saved_errno;
}

void open_self_pipe()
{
  if (g_pipe[0] >= 0) {
    return;
  }
  // Close-on-exec so no child inherits it; non-blocking so neither the
  // handler nor clear_interruption can block on it.
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw SystemError(std::string("pipe2: ") + std::strerror(errno), errno);
  }
}

bool catch_signal(int number, struct sigaction& previous)
{
  ::sigaction(number, nullptr, &previous);
  if (previous.sa_handler == SIG_IGN) {
    return false;
  }
  struct sigaction action
  {};
  action.sa_sigaction = on_signal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int blocked : INTERRUPTING_SIGNALS) {
    sigaddset(&action.sa_mask, blocked);
  }
  return ::sigaction(number, &action, nullptr) == 0;
}

} // namespace

InterruptionHandlers::InterruptionHandlers()
{
  open_self_pipe();
  unsigned caught = 0;
  for (std::size_t i = 0; i < INTERRUPTING_SIGNALS.size(); ++i) {
    m_caught[i] = catch_signal(INTERRUPTING_SIGNALS[i], m_previous[i]);
    caught |= m_caught[i] ? 1U << i : 0U;
  }
  g_caught.store(caught);
}

InterruptionHandlers::~InterruptionHandlers()
{
  for (std::size_t i = 0; i < INTERRUPTING_SIGNALS.size(); ++i) {
    if (m_caught[i]) {
      ::sigaction(INTERRUPTING_SIGNALS[i], &m_previous[i], nullptr);
    }
  }
  g_caught.store(0);
}

int interruption_signal() noexcept
{
  return g_signal.load();
}

unsigned interruption_count() noexcept
{
  return g_count.load();
}

bool interruption_reached_children() noexcept
{
  return g_reached_children.load();
}

int interruption_fd() noexcept
{
  return g_pipe[0];
}

void raise_if_interrupted()
{
  const int number = g_signal.load();
  if (number != 0) {
    throw Interrupted(number);
  }
}

void pause_for(std::chrono::milliseconds duration)
{
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (true) {
    raise_if_interrupted();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return;
    }
    // The self-pipe wakes the wait at the first signal; poll() itself is
    // never restarted, and an early return just goes round again.
    pollfd fds[1] = {{g_pipe[0], POLLIN, 0}};
    ::poll(fds, g_pipe[0] >= 0 ? 1 : 0, static_cast<int>(left.count()));
  }
}

void clear_interruption() noexcept
{
  if (g_pipe[0] >= 0) {
    char buffer[64];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
  }
  g_count.store(0);
  g_reached_children.store(false);
  g_signal.store(0);
}

sigset_t caught_signals() noexcept
{
  sigset_t set;
  sigemptyset(&set);
  const unsigned caught = g_caught.load();
  for (std::size_t i = 0; i < INTERRUPTING_SIGNALS.size(); ++i) {
    if ((caught & (1U << i)) != 0) {
      sigaddset(&set, INTERRUPTING_SIGNALS[i]);
    }
  }
  return set;
}

} // namespace tolvo::platform
