#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/process.hpp"

#include "support/scoped_temp_dir.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using tolvo::Interrupted;
using tolvo::platform::ChildProcess;
using tolvo::platform::InterruptionHandlers;
using tolvo::platform::run_process;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> sh(const std::string& script)
{
  return {"/bin/sh", "-c", script};
}

std::size_t open_descriptor_count()
{
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// Neither our child any more nor anyone's process.
bool is_gone(pid_t pid)
{
  errno = 0;
  const bool not_our_child = ::waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
  errno = 0;
  return not_our_child && ::kill(pid, 0) == -1 && errno == ESRCH;
}

std::string read_file(const std::filesystem::path& path)
{
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits until the child has said it is ready (its traps are set): on a
// loaded machine that can take a while.
void wait_until_exists(const std::filesystem::path& file)
{
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(file) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Sends `number` to the whole process, as `kill` from outside does, once
// `ready` exists, then `repeats` more times 200 ms apart.
std::thread signal_when_ready(int number, const std::filesystem::path& ready, int repeats = 0)
{
  return std::thread([number, ready, repeats] {
    wait_until_exists(ready);
    ::kill(::getpid(), number);
    for (int i = 0; i < repeats; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::kill(::getpid(), number);
    }
  });
}

std::string shell_quoted(const std::filesystem::path& path)
{
  return "'" + path.string() + "'";
}

// A shell that writes the name of the signal it gets into `file`, then ends;
// `file`.ready tells that its traps are set.
std::vector<std::string> recording_child(const std::filesystem::path& file)
{
  const std::string f = shell_quoted(file);
  std::string traps;
  for (const char* name : {"TERM", "INT", "HUP", "QUIT"}) {
    traps += "trap 'echo " + std::string(name) + " > " + f + "; kill $!; exit 0' " + name + "; ";
  }
  return sh(traps + "sleep 20 & touch " + shell_quoted(std::filesystem::path(file.string() + ".ready")) + "; wait");
}

// A program that ignores SIGINT and SIGTERM; `ready` tells that it does.
std::vector<std::string> ignoring_child(const std::filesystem::path& ready)
{
  return sh("trap '' TERM INT; touch " + shell_quoted(ready) + "; exec sleep 30");
}

// A suite started in the background by a shell without job control
// inherits SIGINT and SIGQUIT ignored, and tolvo rightly leaves an ignored
// signal ignored; these tests send them, so they start from the defaults.
class DefaultDispositions
{
public:
  DefaultDispositions()
  {
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      struct sigaction previous
      {};
      ::sigaction(number, nullptr, &previous);
      if (previous.sa_handler == SIG_IGN) {
        ::signal(number, SIG_DFL);
        m_ignored.push_back(number);
      }
    }
  }
  ~DefaultDispositions()
  {
    for (const int number : m_ignored) {
      ::signal(number, SIG_IGN);
    }
  }
  DefaultDispositions(const DefaultDispositions&) = delete;
  DefaultDispositions& operator=(const DefaultDispositions&) = delete;

private:
  std::vector<int> m_ignored;
};

} // namespace

class InterruptionTest : public ::testing::Test
{
protected:
  void SetUp() override { tolvo::platform::clear_interruption(); }
  void TearDown() override { tolvo::platform::clear_interruption(); }

  // Declared first: constructed before the handlers, destroyed after them.
  DefaultDispositions m_defaults;
  InterruptionHandlers m_handlers;
  tolvo::testing::ScopedTempDir m_dir;
};

struct ForwardCase
{
  int signal_number;
  bool capture;
  std::string recorded;
};

class SignalForwardingTest : public InterruptionTest, public ::testing::WithParamInterface<ForwardCase>
{};

TEST_P(SignalForwardingTest, ChildGetsTheSignalAndTheWaitRaisesOnceItHasEnded)
{
  const ForwardCase& c = GetParam();
  const std::filesystem::path record = m_dir.path() / "signal";
  ChildProcess child(recording_child(record), {.env = std::nullopt, .capture = c.capture});
  const pid_t pid = child.pid();
  std::thread sender = signal_when_ready(c.signal_number, record.string() + ".ready");
  try {
    child.wait();
    ADD_FAILURE() << "the wait did not raise Interrupted";
  } catch (const Interrupted& interrupted) {
    EXPECT_EQ(interrupted.signal_number(), c.signal_number);
    EXPECT_EQ(interrupted.status(), 128 + c.signal_number);
  }
  sender.join();
  // The child had ended (and was reaped) before the wait raised.
  EXPECT_TRUE(is_gone(pid));
  EXPECT_EQ(read_file(record), c.recorded + "\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalForwardingTest,
                         ::testing::Values(ForwardCase{SIGTERM, true, "TERM"}, ForwardCase{SIGTERM, false, "TERM"},
                                           ForwardCase{SIGINT, true, "INT"}, ForwardCase{SIGINT, false, "INT"},
                                           ForwardCase{SIGHUP, true, "HUP"}, ForwardCase{SIGQUIT, false, "QUIT"}));

// Waits until `pid` has gone; init reaps an orphan soon after it ends.
bool gone_soon(pid_t pid)
{
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (::kill(pid, 0) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ::kill(pid, 0) == -1 && errno == ESRCH;
}

pid_t read_pid(const std::filesystem::path& file)
{
  return static_cast<pid_t>(std::stol(read_file(file)));
}

TEST_F(InterruptionTest, TheWholeTreeOfTheChildEnds)
{
  // Two grandchildren: one that takes the signal, one that ignores it and
  // outlives its parent until the grace period is over.
  const std::string dir = shell_quoted(m_dir.path());
  ChildProcess child(sh("cd " + dir +
                        "; sleep 30 & echo $! > taking; (trap '' TERM; exec sleep 30) & "
                        "echo $! > ignoring; touch ready; wait"),
                     {.env = std::nullopt, .capture = true});
  std::thread sender = signal_when_ready(SIGTERM, m_dir.path() / "ready");
  EXPECT_THROW(child.wait(), Interrupted);
  sender.join();
  EXPECT_TRUE(gone_soon(read_pid(m_dir.path() / "taking")));
  EXPECT_TRUE(gone_soon(read_pid(m_dir.path() / "ignoring")));
}

TEST_F(InterruptionTest, EveryWaitingThreadForwardsToItsOwnChild)
{
  constexpr int THREADS = 5;
  std::atomic<int> started{0};
  std::vector<pid_t> pids(THREADS, -1);
  std::vector<int> statuses(THREADS, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < THREADS; ++i) {
    threads.emplace_back([&, i] {
      const auto index = static_cast<std::size_t>(i);
      try {
        ChildProcess child(recording_child(m_dir.path() / std::to_string(i)), {.env = std::nullopt, .capture = true});
        pids[index] = child.pid();
        ++started;
        child.wait();
      } catch (const Interrupted& interrupted) {
        statuses[index] = interrupted.status();
      }
    });
  }
  while (started.load() < THREADS) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int i = 0; i < THREADS; ++i) {
    wait_until_exists(m_dir.path() / (std::to_string(i) + ".ready"));
  }
  ::kill(::getpid(), SIGTERM);
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < THREADS; ++i) {
    const auto index = static_cast<std::size_t>(i);
    EXPECT_EQ(statuses[index], 128 + SIGTERM) << i;
    EXPECT_TRUE(is_gone(pids[index])) << i;
    EXPECT_EQ(read_file(m_dir.path() / std::to_string(i)), "TERM\n") << i;
  }
}

TEST_F(InterruptionTest, ChildIgnoringTheSignalIsKilledAfterTheGracePeriod)
{
  ChildProcess child(ignoring_child(m_dir.path() / "ready"), {.env = std::nullopt, .capture = true});
  const pid_t pid = child.pid();
  std::thread sender = signal_when_ready(SIGTERM, m_dir.path() / "ready");
  const auto start = Clock::now();
  EXPECT_THROW(child.wait(), Interrupted);
  sender.join();
  // Well before the child's own 30 seconds.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(is_gone(pid));
}

TEST_F(InterruptionTest, RepeatedSignalKillsWithoutWaitingForTheGracePeriod)
{
  ChildProcess child(ignoring_child(m_dir.path() / "ready"), {.env = std::nullopt, .capture = false});
  const pid_t pid = child.pid();
  wait_until_exists(m_dir.path() / "ready");
  const auto start = Clock::now();
  std::thread sender = signal_when_ready(SIGINT, m_dir.path() / "ready", 1);
  try {
    child.wait();
    ADD_FAILURE() << "the wait did not raise Interrupted";
  } catch (const Interrupted& interrupted) {
    // The first signal decides the status.
    EXPECT_EQ(interrupted.status(), 130);
  }
  sender.join();
  // The grace period is a few seconds; the second signal cut it short.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(is_gone(pid));
}

TEST_F(InterruptionTest, WaitForKeepsTimingOutUntilTheInterruptedChildHasEnded)
{
  // The child takes a moment to end after the signal: the waits in between
  // still return false, so a spinner keeps turning.
  ChildProcess child(sh("trap 'sleep 0.5; exit 0' TERM; sleep 20 & touch ready; wait"),
                     {.env = std::nullopt, .capture = true});
  wait_until_exists(m_dir.path() / "ready");
  ::kill(::getpid(), SIGTERM);
  int timeouts = 0;
  try {
    while (!child.wait_for(std::chrono::milliseconds(100))) {
      ++timeouts;
    }
    ADD_FAILURE() << "wait_for did not raise Interrupted";
  } catch (const Interrupted&) {
  }
  EXPECT_GE(timeouts, 1);
}

TEST_F(InterruptionTest, NoChildStartsAfterAnInterruption)
{
  const std::size_t before = open_descriptor_count();
  ::raise(SIGTERM);
  EXPECT_EQ(tolvo::platform::interruption_signal(), SIGTERM);
  EXPECT_THROW(run_process(sh("touch started"), {.env = std::nullopt, .capture = true}), Interrupted);
  EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "started"));
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(InterruptionTest, ChildStartsWithNoSignalBlockedWhateverTheThreadBlocks)
{
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGUSR1);
  sigset_t previous;
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  const auto result = run_process({"grep", "^SigBlk", "/proc/self/status"}, {.env = std::nullopt, .capture = true});
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  EXPECT_EQ(*result.stdout_text, "SigBlk:\t0000000000000000\n");
}

TEST(InterruptionHandlersTest, LeaveAnIgnoredSignalIgnoredAndRestoreOnDestruction)
{
  struct sigaction ignore
  {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction original_int
  {};
  struct sigaction original_term
  {};
  ::sigaction(SIGINT, &ignore, &original_int);
  ::sigaction(SIGTERM, nullptr, &original_term);
  {
    const InterruptionHandlers handlers;
    struct sigaction now
    {};
    ::sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL);
    EXPECT_NE(now.sa_handler, SIG_IGN);
    sigset_t caught = tolvo::platform::caught_signals();
    EXPECT_FALSE(sigismember(&caught, SIGINT));
    EXPECT_TRUE(sigismember(&caught, SIGTERM));
  }
  struct sigaction after
  {};
  ::sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, original_term.sa_handler);
  ::sigaction(SIGINT, &original_int, nullptr);
}

// Descriptors are a process-wide resource: every way a child can start,
// fail to start, end or be ended must give back what it took.
TEST_F(InterruptionTest, NoDescriptorOrChildIsLeftOverAfterManyRuns)
{
  const std::size_t before = open_descriptor_count();
  std::vector<pid_t> pids;
  for (int round = 0; round < 20; ++round) {
    for (const bool capture : {true, false}) {
      const tolvo::platform::SpawnOptions options{.env = std::nullopt, .capture = capture};
      EXPECT_EQ(run_process(sh(capture ? "echo out; echo err >&2; exit 3" : "exit 3"), options).returncode, 3);
      EXPECT_EQ(run_process(sh("kill -KILL $$"), options).returncode, -SIGKILL);
      EXPECT_THROW(run_process({"tolvo-no-such-program"}, options), tolvo::StartError);
      EXPECT_THROW(run_process({"/etc/passwd"}, options), tolvo::StartError);
      {
        // Dropped while running: killed and reaped.
        ChildProcess abandoned(sh("exec sleep 30"), options);
        pids.push_back(abandoned.pid());
      }
      {
        ChildProcess interrupted(sh("exec sleep 30"), options);
        pids.push_back(interrupted.pid());
        ::raise(SIGTERM);
        EXPECT_THROW(interrupted.wait(), Interrupted);
        EXPECT_THROW(run_process(sh("exit 0"), options), Interrupted);
        tolvo::platform::clear_interruption();
      }
    }
  }
  EXPECT_EQ(open_descriptor_count(), before);
  for (const pid_t pid : pids) {
    EXPECT_TRUE(is_gone(pid)) << pid;
  }
}
