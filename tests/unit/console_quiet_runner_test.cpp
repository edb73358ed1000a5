#include "tolvo/console/quiet_runner.hpp"
#include "tolvo/console/spinner.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using tolvo::console::run_quietly;
using tolvo::console::run_with_spinner;
using tolvo::console::SPINNER_FRAMES;
using tolvo::platform::ConsoleStreams;

namespace {

std::vector<std::string> sh(const std::string& script)
{
  return {"/bin/sh", "-c", script};
}

// The frame indices drawn, in order, by a terminal-mode spinner.
std::vector<std::size_t> drawn_frames(const std::string& shown, const std::string& action)
{
  std::vector<std::size_t> frames;
  const std::string prefix = action + ": [";
  std::size_t at = 0;
  while ((at = shown.find(prefix, at)) != std::string::npos) {
    at += prefix.size();
    for (std::size_t i = 0; i < SPINNER_FRAMES.size(); ++i) {
      if (shown.compare(at, SPINNER_FRAMES[i].size(), SPINNER_FRAMES[i]) == 0) {
        frames.push_back(i);
      }
    }
  }
  return frames;
}

} // namespace

struct CountCase
{
  std::string text;
  std::size_t characters;
};

class CharacterCountTest : public ::testing::TestWithParam<CountCase>
{};

TEST_P(CharacterCountTest, CountsCodePoints)
{
  EXPECT_EQ(tolvo::platform::character_count(GetParam().text), GetParam().characters);
}

INSTANTIATE_TEST_SUITE_P(Texts, CharacterCountTest,
                         ::testing::Values(CountCase{"", 0}, CountCase{"Upgrading pip", 13},
                                           CountCase{"Caf\xc3\xa9", 4}, CountCase{"\xe2\xa0\x8b", 1},
                                           CountCase{"\xf0\x9f\x90\x8d x", 3}));

TEST(SpinnerTest, QuickChildShowsFirstFrameThenBlanks)
{
  std::ostringstream out;
  std::ostringstream err;
  const auto result = run_with_spinner("Upgrading pip", sh("exit 0"), true, ConsoleStreams{out, err, true, 0});
  EXPECT_EQ(result.returncode, 0);
  EXPECT_EQ(out.str(), "Upgrading pip: [\xe2\xa0\x8b]\r" + std::string(13 + 5, ' ') + "\r");
  EXPECT_EQ(err.str(), "");
}

TEST(SpinnerTest, BlankingCountsCharactersNotBytes)
{
  std::ostringstream out;
  std::ostringstream err;
  run_with_spinner("Caf\xc3\xa9", sh("exit 0"), true, ConsoleStreams{out, err, true, 0});
  EXPECT_EQ(out.str(), "Caf\xc3\xa9: [\xe2\xa0\x8b]\r" + std::string(4 + 5, ' ') + "\r");
}

TEST(SpinnerTest, OneFramePerTimeoutWrappingAfterTheLast)
{
  std::ostringstream out;
  std::ostringstream err;
  run_with_spinner("Step", sh("sleep 1.25"), true, ConsoleStreams{out, err, true, 0});
  const std::vector<std::size_t> frames = drawn_frames(out.str(), "Step");
  // About twelve waits; the exact count depends on scheduling.
  ASSERT_GE(frames.size(), 11U);
  ASSERT_LE(frames.size(), 14U);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i], i % 10) << "draw " << i;
  }
  // Every redraw starts from the beginning of the line.
  const std::string redraw = "\rStep: [";
  std::size_t redraws = 0;
  for (std::size_t at = out.str().find(redraw); at != std::string::npos; at = out.str().find(redraw, at + 1)) {
    ++redraws;
  }
  EXPECT_EQ(redraws, frames.size() - 1);
  const std::string tail = "\r" + std::string(4 + 5, ' ') + "\r";
  EXPECT_EQ(out.str().substr(out.str().size() - tail.size()), tail);
}

TEST(SpinnerTest, NotATerminalOrOneThatCannotRedrawPrintsOneLine)
{
  // Not a terminal; a terminal that takes no carriage return, though the
  // child runs long enough for redraws.
  for (const bool terminal : {false, true}) {
    std::ostringstream out;
    std::ostringstream err;
    run_with_spinner("Installing lint tools", sh("echo hidden; sleep 0.25"), true,
                     ConsoleStreams{out, err, terminal, 80, /*redraws=*/false});
    EXPECT_EQ(out.str(), "Installing lint tools...\n") << terminal;
    EXPECT_EQ(err.str(), "");
  }
}

TEST(SpinnerTest, QuietFailureBlanksThenShowsOutputAndRaises)
{
  std::ostringstream out;
  std::ostringstream err;
  try {
    run_with_spinner("Step", sh("echo o; echo e >&2; exit 4"), true, ConsoleStreams{out, err, true, 0});
    FAIL() << "no CalledProcessError";
  } catch (const tolvo::CalledProcessError& error) {
    EXPECT_EQ(error.returncode(), 4);
    EXPECT_EQ(error.args(), sh("echo o; echo e >&2; exit 4"));
    EXPECT_EQ(error.stdout_text(), "o\n");
    EXPECT_EQ(error.stderr_text(), "e\n");
  }
  EXPECT_EQ(out.str(), "Step: [\xe2\xa0\x8b]\r" + std::string(9, ' ') + "\ro\n\n");
  EXPECT_EQ(err.str(), "e\n\n");
}

TEST(SpinnerTest, NonQuietFailureReturnsTheRecord)
{
  std::ostringstream out;
  std::ostringstream err;
  const auto result =
    run_with_spinner("Step", sh("echo o; echo e >&2; exit 3"), false, ConsoleStreams{out, err, false, 0});
  EXPECT_EQ(result.returncode, 3);
  EXPECT_EQ(*result.stdout_text, "o\n");
  EXPECT_EQ(*result.stderr_text, "e\n");
  EXPECT_EQ(out.str(), "Step...\n");
  EXPECT_EQ(err.str(), "");
}

TEST(SpinnerTest, StartFailureLeavesTheFirstFrame)
{
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_THROW(run_with_spinner("Step", {"/nonexistent/tolvo"}, true, ConsoleStreams{out, err, true, 0}),
               tolvo::StartError);
  EXPECT_EQ(out.str(), "Step: [\xe2\xa0\x8b]");
}

struct ChronicCase
{
  std::string script;
  bool check;
  std::string out;
  std::string err;
  bool raises;
};

class ChronicTest : public ::testing::TestWithParam<ChronicCase>
{};

TEST_P(ChronicTest, ShowsCapturedTextsOnlyOnFailure)
{
  std::ostringstream out;
  std::ostringstream err;
  bool raised = false;
  try {
    run_quietly(sh(GetParam().script), std::nullopt, GetParam().check, ConsoleStreams{out, err, false, 0});
  } catch (const tolvo::CalledProcessError&) {
    raised = true;
  }
  EXPECT_EQ(raised, GetParam().raises);
  EXPECT_EQ(out.str(), GetParam().out);
  EXPECT_EQ(err.str(), GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChronicTest,
                         ::testing::Values(ChronicCase{"echo warn >&2; exit 0", true, "", "", false},
                                           ChronicCase{"echo line >&2; exit 2", true, "", "line\n\n", true},
                                           ChronicCase{"printf o; printf e >&2; exit 1", false, "o\n", "e\n", false},
                                           ChronicCase{"exit 5", true, "", "", true}));

TEST(ChronicTest, PassesTheEnvironmentWhole)
{
  std::ostringstream out;
  std::ostringstream err;
  const auto result = run_quietly(sh("echo \"$ONLY:${HOME-none}\""), tolvo::platform::Environment{{"ONLY", "1"}}, true,
                                  ConsoleStreams{out, err, false, 0});
  EXPECT_EQ(*result.stdout_text, "1:none\n");
}
