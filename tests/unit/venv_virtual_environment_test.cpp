#include "tolvo/errors.hpp"
#include "tolvo/venv/virtual_environment.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using tolvo::venv::VirtualEnvironment;

namespace {

// A logging stand-in for an interpreter or pip: appends its argument list
// to $TOLVO_FAKE_LOG, fails when its program name is in $TOLVO_FAKE_FAIL,
// and for "-m venv ... DIR" creates DIR/bin/python and DIR/bin/pip as
// copies of itself.
constexpr const char* FAKE_SCRIPT = R"(#!/bin/sh
printf '%s' "$0" >> "$TOLVO_FAKE_LOG"
for a in "$@"; do printf ' %s' "$a" >> "$TOLVO_FAKE_LOG"; done
printf '\n' >> "$TOLVO_FAKE_LOG"
case " $TOLVO_FAKE_FAIL " in *" $(basename "$0") "*) echo "fake failure" >&2; exit 3;; esac
if [ "$1" = "-m" ] && [ "$2" = "venv" ]; then
  for last in "$@"; do :; done
  mkdir -p "$last/bin"
  cp "$0" "$last/bin/python"
  cp "$0" "$last/bin/pip"
fi
if [ "$1" = "-c" ]; then echo "$TOLVO_EXTRA:$TOLVO_FAKE_LOG"; fi
exit 0
)";

class VenvTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    m_old_cwd = fs::current_path();
    m_old_path = std::getenv("PATH");
    m_dir = fs::temp_directory_path() / ("tolvo-venv-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "fakebin");
    m_project = m_dir / "project";
    fs::create_directories(m_project);
    write_fake(m_dir / "fakebin" / "python");
    m_log = m_dir / "log";
    ::setenv("TOLVO_FAKE_LOG", m_log.c_str(), 1);
    ::unsetenv("TOLVO_FAKE_FAIL");
    ::setenv("PATH", ((m_dir / "fakebin").string() + ":" + m_old_path).c_str(), 1);
    fs::current_path(m_project);
  }

  void TearDown() override
  {
    fs::current_path(m_old_cwd);
    ::setenv("PATH", m_old_path.c_str(), 1);
    ::unsetenv("TOLVO_FAKE_LOG");
    ::unsetenv("TOLVO_FAKE_FAIL");
    fs::remove_all(m_dir);
  }

  static void write_fake(const fs::path& where)
  {
    fs::create_directories(where.parent_path());
    std::ofstream(where) << FAKE_SCRIPT;
    fs::permissions(where, fs::perms::owner_all);
  }

  std::vector<std::string> log_lines() const
  {
    std::vector<std::string> lines;
    std::ifstream in(m_log);
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  fs::path m_old_cwd;
  std::string m_old_path;
  fs::path m_dir;
  fs::path m_project;
  fs::path m_log;
};

} // namespace

TEST_F(VenvTest, FreshEnvironmentIsCreatedThenPipEnsuredAndUpgraded)
{
  const VirtualEnvironment venv = tolvo::venv::ensure_venv();
  const std::string path = fs::canonical(m_project).string() + "/.venv";
  EXPECT_EQ(venv.path, path);
  EXPECT_EQ(venv.python, path + "/bin/python");
  EXPECT_EQ(venv.pip, path + "/bin/pip");
  EXPECT_TRUE(venv.exists());
  EXPECT_EQ(log_lines(),
            (std::vector<std::string>{
              (m_dir / "fakebin" / "python").string() + " -m venv --system-site-packages --upgrade " + path,
              path + "/bin/python -um ensurepip",
              path + "/bin/python -m pip install --upgrade pip",
            }));
}

TEST_F(VenvTest, CompleteEnvironmentOnlyRunsThePipSteps)
{
  tolvo::venv::ensure_venv();
  fs::remove(m_log);
  const VirtualEnvironment venv = tolvo::venv::ensure_venv();
  EXPECT_EQ(log_lines(),
            (std::vector<std::string>{venv.python + " -um ensurepip", venv.python + " -m pip install --upgrade pip"}));
}

TEST_F(VenvTest, EnvironmentWithoutPipIsCreatedAgain)
{
  const VirtualEnvironment first = tolvo::venv::ensure_venv();
  fs::remove(first.pip);
  fs::remove(m_log);
  const VirtualEnvironment venv = tolvo::venv::ensure_venv();
  ASSERT_EQ(log_lines().size(), 3U);
  EXPECT_NE(log_lines()[0].find(" -m venv --system-site-packages --upgrade " + venv.path), std::string::npos);
}

TEST_F(VenvTest, SymbolicLinkIsResolvedToItsTarget)
{
  fs::create_directories(m_dir / "elsewhere");
  fs::create_directory_symlink(m_dir / "elsewhere", m_project / ".venv");
  const VirtualEnvironment venv = tolvo::venv::ensure_venv();
  const std::string target = fs::canonical(m_dir / "elsewhere").string();
  EXPECT_EQ(venv.path, target);
  EXPECT_EQ(venv.python, target + "/bin/python");
  EXPECT_TRUE(fs::exists(m_dir / "elsewhere" / "bin" / "pip"));
}

TEST_F(VenvTest, PathIsNormalisedBeforeResolving)
{
  fs::create_directories(m_project / "sub");
  EXPECT_EQ(tolvo::venv::resolve_environment_path("sub/../missing/x"),
            fs::canonical(m_project).string() + "/missing/x");
}

TEST_F(VenvTest, FailingStepStopsTheSequence)
{
  tolvo::venv::ensure_venv();
  fs::remove(m_log);
  ::setenv("TOLVO_FAKE_FAIL", "python", 1);
  try {
    tolvo::venv::ensure_venv();
    FAIL() << "no CalledProcessError";
  } catch (const tolvo::CalledProcessError& error) {
    EXPECT_EQ(error.returncode(), 3);
    EXPECT_EQ(error.stderr_text(), "fake failure\n");
  }
  // The upgrade of pip never ran.
  EXPECT_EQ(log_lines().size(), 1U);
}

TEST_F(VenvTest, RunMergesTheEnvironmentAndIsSafeFromSeveralThreads)
{
  const VirtualEnvironment venv = tolvo::venv::ensure_venv();
  std::vector<tolvo::platform::CompletedProcess> results(5);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&venv, &results, i] {
      results[i] = venv.run({"-c", "x"}, {.env = tolvo::platform::Environment{{"TOLVO_EXTRA", std::to_string(i)}},
                                          .chronic = false,
                                          .capture_output = true});
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].returncode, 0);
    EXPECT_EQ(*results[i].stdout_text, std::to_string(i) + ":" + m_log.string() + "\n");
  }
}

TEST_F(VenvTest, OpenRunReportsFailureOnlyThroughTheReturnCode)
{
  const VirtualEnvironment venv = tolvo::venv::ensure_venv();
  ::setenv("TOLVO_FAKE_FAIL", "python", 1);
  const auto result = venv.run({"-um", "pytest"}, {.env = std::nullopt, .chronic = false, .capture_output = true});
  EXPECT_EQ(result.returncode, 3);
  EXPECT_THROW(venv.run({"-um", "pytest"}, {.env = std::nullopt, .chronic = true, .capture_output = false}),
               tolvo::CalledProcessError);
}
