#include "tolvo/console/quiet_runner.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"

#include "support/scoped_temp_dir.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using tolvo::Interrupted;
using tolvo::platform::ConsoleStreams;

namespace {

// Writes what a failure would show, then waits to be interrupted.
const std::vector<std::string> CHILD = {"/bin/sh", "-c",
                                        "echo captured out; echo captured err >&2; touch started; exec sleep 30"};

struct StepCase
{
  std::string name;
  bool spinner;
  bool terminal;
  std::string shown;
};

class InterruptedStepTest : public ::testing::TestWithParam<StepCase>
{
protected:
  void SetUp() override { tolvo::platform::clear_interruption(); }
  void TearDown() override { tolvo::platform::clear_interruption(); }

  tolvo::platform::InterruptionHandlers m_handlers;
  tolvo::testing::ScopedTempDir m_dir;
};

} // namespace

TEST_P(InterruptedStepTest, EndsWithoutShowingTheCapturedOutputAsAFailure)
{
  const StepCase& c = GetParam();
  std::ostringstream out;
  std::ostringstream err;
  const ConsoleStreams console{out, err, c.terminal, 0};
  // Once the child runs and has written its texts.
  std::thread sender([] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists("started") && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(::getpid(), SIGTERM);
  });
  try {
    if (c.spinner) {
      tolvo::console::run_with_spinner("Installing requirements", CHILD, true, console);
    } else {
      tolvo::console::run_quietly(CHILD, std::nullopt, true, console);
    }
    ADD_FAILURE() << "no Interrupted";
  } catch (const Interrupted& interrupted) {
    EXPECT_EQ(interrupted.status(), 143);
  }
  sender.join();
  EXPECT_EQ(err.str(), "");
  if (c.terminal) {
    // The frames drawn, then the line blanked exactly as a finished step's.
    const std::string blank = "\r" + std::string(std::string("Installing requirements").size() + 5, ' ') + "\r";
    ASSERT_GE(out.str().size(), blank.size());
    EXPECT_EQ(out.str().substr(out.str().size() - blank.size()), blank);
    EXPECT_EQ(out.str().find("captured"), std::string::npos);
  } else {
    EXPECT_EQ(out.str(), c.shown);
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, InterruptedStepTest,
                         ::testing::Values(StepCase{"SpinnerOnATerminal", true, true, ""},
                                           StepCase{"SpinnerOnAPipe", true, false, "Installing requirements...\n"},
                                           StepCase{"Chronic", false, false, ""}),
                         [](const ::testing::TestParamInfo<StepCase>& param) { return param.param.name; });
