#include "tolvo/errors.hpp"
#include "tolvo/platform/process.hpp"
#include "tolvo/platform/spawn.hpp"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using tolvo::platform::ChildProcess;
using tolvo::platform::CompletedProcess;
using tolvo::platform::Environment;
using tolvo::platform::run_process;
using tolvo::platform::SpawnOptions;

namespace {

CompletedProcess run_sh(const std::string& script, std::optional<Environment> env = std::nullopt)
{
  return run_process({"/bin/sh", "-c", script}, {.env = std::move(env), .capture = true});
}

} // namespace

class ExitCodeTest : public ::testing::TestWithParam<int>
{};

TEST_P(ExitCodeTest, ReturnsTheChildsExitStatus)
{
  const CompletedProcess result = run_sh("exit " + std::to_string(GetParam()));
  EXPECT_EQ(result.returncode, GetParam());
  EXPECT_EQ(result.args, (std::vector<std::string>{"/bin/sh", "-c", "exit " + std::to_string(GetParam())}));
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitCodeTest, ::testing::Values(0, 1, 2, 77, 255));

TEST(ProcessTest, CapturesStreamsSeparately)
{
  const CompletedProcess result = run_sh("printf out; printf err >&2");
  ASSERT_TRUE(result.stdout_text && result.stderr_text);
  EXPECT_EQ(*result.stdout_text, "out");
  EXPECT_EQ(*result.stderr_text, "err");
}

TEST(ProcessTest, UncapturedRunHasNoTexts)
{
  const CompletedProcess result = run_process({"/bin/sh", "-c", "exit 3"});
  EXPECT_EQ(result.returncode, 3);
  EXPECT_FALSE(result.stdout_text);
  EXPECT_FALSE(result.stderr_text);
}

TEST(ProcessTest, OneMebibyteOnBothStreamsDoesNotDeadlock)
{
  const CompletedProcess result =
    run_sh("head -c 1048576 /dev/zero | tr '\\0' a; head -c 1048576 /dev/zero | tr '\\0' b >&2");
  ASSERT_EQ(result.returncode, 0);
  EXPECT_EQ(*result.stdout_text, std::string(1048576, 'a'));
  EXPECT_EQ(*result.stderr_text, std::string(1048576, 'b'));
}

TEST(ProcessTest, EnvironmentReplacesTheInheritedOne)
{
  const CompletedProcess result =
    run_sh("echo \"$TOLVO_TEST_VAR:${HOME-unset}\"", Environment{{"TOLVO_TEST_VAR", "x y"}});
  EXPECT_EQ(*result.stdout_text, "x y:unset\n");
}

TEST(ProcessTest, ProgramIsLookedUpOnTheChildsPath)
{
  const std::filesystem::path dir =
    std::filesystem::temp_directory_path() / ("tolvo-path-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream script(dir / "tolvo-probe");
    script << "#!/bin/sh\necho found\n";
  }
  std::filesystem::permissions(dir / "tolvo-probe", std::filesystem::perms::owner_all);
  const CompletedProcess result =
    run_process({"tolvo-probe"}, {.env = Environment{{"PATH", dir.string()}}, .capture = true});
  EXPECT_EQ(*result.stdout_text, "found\n");
  std::filesystem::remove_all(dir);
}

struct StartFailureCase
{
  std::string program;
  int error_number;
};

class StartFailureTest : public ::testing::TestWithParam<StartFailureCase>
{};

TEST_P(StartFailureTest, RaisesStartErrorWithErrno)
{
  try {
    run_process({GetParam().program, "x"}, {.env = Environment{{"PATH", "/nonexistent:/etc"}}, .capture = true});
    FAIL() << "no StartError";
  } catch (const tolvo::StartError& error) {
    EXPECT_EQ(error.error_number(), GetParam().error_number);
    EXPECT_EQ(error.program(), GetParam().program);
    EXPECT_NE(std::string(error.what()).find("cannot run '" + GetParam().program + "'"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StartFailureTest,
                         ::testing::Values(StartFailureCase{"tolvo-no-such-program", ENOENT},
                                           StartFailureCase{"/nonexistent/prog", ENOENT},
                                           StartFailureCase{"passwd", EACCES},
                                           StartFailureCase{"/etc/passwd", EACCES}));

TEST(ProcessTest, StartErrorMessageNamesTheProgramAndReason)
{
  try {
    run_process({"tolvo-no-such-program"}, {.env = Environment{{"PATH", "/nonexistent"}}, .capture = false});
    FAIL() << "no StartError";
  } catch (const tolvo::StartError& error) {
    EXPECT_STREQ(error.what(), "cannot run 'tolvo-no-such-program': No such file or directory");
  }
}

TEST(ProcessTest, AFailedSpawnSetUpCallIsAStartErrorNamingTheCall)
{
  tolvo::platform::SpawnFileActions actions("tolvo-probe");
  try {
    actions.add_dup2(-1, STDOUT_FILENO);
    FAIL() << "no StartError";
  } catch (const tolvo::StartError& error) {
    EXPECT_STREQ(error.what(), "cannot run 'tolvo-probe': posix_spawn_file_actions_adddup2: Bad file descriptor");
    EXPECT_EQ(error.error_number(), EBADF);
    EXPECT_EQ(error.program(), "tolvo-probe");
  }
}

TEST(ProcessTest, SignalEndedChildHasNegativeReturnCode)
{
  EXPECT_EQ(run_sh("kill -TERM $$").returncode, -SIGTERM);
  EXPECT_EQ(run_sh("kill -KILL $$").returncode, -SIGKILL);
}

TEST(ProcessTest, WaitForTimesOutWhileTheChildRuns)
{
  ChildProcess child({"/bin/sh", "-c", "sleep 0.3; echo done"}, {.env = std::nullopt, .capture = true});
  EXPECT_FALSE(child.wait_for(std::chrono::milliseconds(50)));
  child.wait();
  EXPECT_TRUE(child.wait_for(std::chrono::milliseconds(0)));
  EXPECT_EQ(*child.take_result().stdout_text, "done\n");
}

TEST(ProcessTest, DestructorKillsAndReapsARunningChild)
{
  pid_t pid = 0;
  {
    ChildProcess child({"/bin/sh", "-c", "sleep 30"}, {.env = std::nullopt, .capture = true});
    pid = child.pid();
  }
  // Reaped: the pid is no longer our child.
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(ProcessTest, ConcurrentRunsDoNotInheritEachOthersPipes)
{
  constexpr int THREADS = 5;
  // Whatever the test runner itself lets children inherit, a lone child sees.
  const std::string baseline = *run_sh("ls /proc/self/fd | wc -l").stdout_text;
  std::vector<CompletedProcess> results(THREADS);
  std::vector<std::thread> threads;
  for (int i = 0; i < THREADS; ++i) {
    threads.emplace_back([&results, i] {
      results[static_cast<std::size_t>(i)] =
        run_sh("sleep 0.2; ls /proc/self/fd | wc -l; echo " + std::to_string(i) + " >&2");
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < THREADS; ++i) {
    const CompletedProcess& result = results[static_cast<std::size_t>(i)];
    EXPECT_EQ(result.returncode, 0);
    EXPECT_EQ(*result.stdout_text, baseline) << "thread " << i;
    EXPECT_EQ(*result.stderr_text, std::to_string(i) + "\n");
  }
}

TEST(ProcessTest, ABackgroundProcessLeftHoldingTheOutputDoesNotHoldTheWait)
{
  const CompletedProcess result = run_sh("echo start; (trap '' TERM; sleep 30; echo late) & echo $! >&2; echo end");
  EXPECT_EQ(result.returncode, 0);
  EXPECT_EQ(*result.stdout_text, "start\nend\n");
  ::kill(static_cast<pid_t>(std::stol(*result.stderr_text)), SIGKILL);
}
