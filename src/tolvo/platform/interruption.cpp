#include "tolvo/platform/interruption.hpp"

#include "tolvo/errors.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
std::atomic<bool> g_int_caught{false};
std::atomic<bool> g_term_caught{false};
// The self-pipe lives as long as the process: threads may still poll it
// while the handlers are being restored.
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
  struct sigaction action{};
  action.sa_sigaction = on_signal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  return ::sigaction(number, &action, nullptr) == 0;
}

} // namespace

InterruptionHandlers::InterruptionHandlers()
{
  open_self_pipe();
  m_int_caught = catch_signal(SIGINT, m_previous_int);
  m_term_caught = catch_signal(SIGTERM, m_previous_term);
  g_int_caught.store(m_int_caught);
  g_term_caught.store(m_term_caught);
}

InterruptionHandlers::~InterruptionHandlers()
{
  if (m_int_caught) {
    ::sigaction(SIGINT, &m_previous_int, nullptr);
  }
  if (m_term_caught) {
    ::sigaction(SIGTERM, &m_previous_term, nullptr);
  }
  g_int_caught.store(false);
  g_term_caught.store(false);
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
  if (g_int_caught.load()) {
    sigaddset(&set, SIGINT);
  }
  if (g_term_caught.load()) {
    sigaddset(&set, SIGTERM);
  }
  return set;
}

} // namespace tolvo::platform
