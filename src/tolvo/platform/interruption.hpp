#pragma once

// Interruption by SIGINT, SIGTERM, SIGHUP (a closed terminal) or SIGQUIT.
// The handler does no work: it records
// the signal in atomics and makes a self-pipe readable, so every thread
// waiting in poll() wakes up. The waiting loops of the process layer then
// pass the signal on to their children, wait until those have ended, and
// raise Interrupted, which unwinds through the display clean-up to the
// program entry and becomes the exit status 128 + signal.

#include <array>
#include <chrono>
#include <signal.h>

namespace tolvo::platform {

/// The signals that interrupt the tool, each answered the same way.
inline constexpr std::array<int, 4> INTERRUPTING_SIGNALS = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

/// Catches the interrupting signals while it lives; restores the previous
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
  std::array<struct sigaction, INTERRUPTING_SIGNALS.size()> m_previous{};
  std::array<bool, INTERRUPTING_SIGNALS.size()> m_caught{};
};

/// The first interrupting signal received, 0 when none.
int interruption_signal() noexcept;

/// How many interrupting signals have arrived; a second one asks for haste.
unsigned interruption_count() noexcept;

/// Whether the first signal came from the terminal driver (Ctrl-C, Ctrl-\\,
/// a hang-up), which sends it to the whole foreground process group: the
/// children that share the tool's group have it already and must not get it
/// twice.
bool interruption_reached_children() noexcept;

/// A descriptor that turns readable at the first interruption and stays so;
/// -1 before any InterruptionHandlers existed. For poll() only.
int interruption_fd() noexcept;

/// Throws Interrupted when a signal has arrived.
void raise_if_interrupted();

/// Sleeps for `duration`, or less when a signal comes, and then throws
/// Interrupted if one has come.
void pause_for(std::chrono::milliseconds duration);

/// Forgets a handled interruption, so that a later one is noticed again.
void clear_interruption() noexcept;

/// The signals whose disposition a child must get back as the default.
sigset_t caught_signals() noexcept;

} // namespace tolvo::platform
