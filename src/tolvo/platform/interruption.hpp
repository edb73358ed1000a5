#pragma once

// Interruption by SIGINT or SIGTERM. The handler does no work: it records
// the signal in atomics and makes a self-pipe readable, so every thread
// waiting in poll() wakes up. The waiting loops of the process layer then
// pass the signal on to their children, wait until those have ended, and
// raise Interrupted, which unwinds through the display clean-up to the
// program entry and becomes the exit status 128 + signal.

#include <signal.h>

namespace tolvo::platform {

/// Catches SIGINT and SIGTERM while it lives; restores the previous
/// dispositions when destroyed. A signal that was ignored when the tool
/// started (a background job, nohup) stays ignored. One at a time.
class InterruptionHandlers
{
public:
  InterruptionHandlers();
  ~InterruptionHandlers();
  InterruptionHandlers(const InterruptionHandlers&) = delete;
  InterruptionHandlers& operator=(const InterruptionHandlers&) = delete;

private:
  struct sigaction m_previous_int{};
  struct sigaction m_previous_term{};
  bool m_int_caught = false;
  bool m_term_caught = false;
};

/// The first interrupting signal received, 0 when none.
int interruption_signal() noexcept;

/// How many interrupting signals have arrived; a second one asks for haste.
unsigned interruption_count() noexcept;

/// Whether the first signal came from the terminal driver (Ctrl-C), which
/// sends it to the whole foreground process group: the children have it
/// already and must not get it twice.
bool interruption_reached_children() noexcept;

/// A descriptor that turns readable at the first interruption and stays so;
/// -1 before any InterruptionHandlers existed. For poll() only.
int interruption_fd() noexcept;

/// Throws Interrupted when a signal has arrived.
void raise_if_interrupted();

/// Forgets a handled interruption, so that a later one is noticed again.
void clear_interruption() noexcept;

/// The signals whose disposition a child must get back as the default.
sigset_t caught_signals() noexcept;

} // namespace tolvo::platform
