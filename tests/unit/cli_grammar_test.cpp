#include "tolvo/cli/grammar.hpp"
#include "tolvo/errors.hpp"

#include "support/parse_outcome.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace tolvo::cli {
namespace {

using Outcome = tolvo::testing::ParseOutcome;

Parser sample_parser()
{
  Parser parser("prog", "Sample description.");
  parser.add_flag({"--xa"}, "xa", "first");
  parser.add_flag({"--xb"}, "xb", "second");
  parser.add_option({"--mode"}, "mode", std::string("fast"), "mode help", {"fast", "slow"});
  parser.add_option({"-C", "--dir"}, "dir", std::monostate{}, "dir help", {}, "DIR");
  parser.add_optional_positional("target", "all", "target help");
  return parser;
}

Outcome run(Parser& parser, const std::vector<std::string>& arguments)
{
  return tolvo::testing::parse_outcome(parser, arguments);
}

std::string last_line(const std::string& text)
{
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') {
    trimmed.pop_back();
  }
  return trimmed.substr(trimmed.rfind('\n') + 1);
}

struct ParseCase
{
  std::vector<std::string> arguments;
  bool xa;
  bool xb;
  std::string mode;
  std::optional<std::string> dir;
  std::string target;
};

class GrammarParse : public ::testing::TestWithParam<ParseCase>
{};

TEST_P(GrammarParse, GivesTheValues)
{
  const ParseCase& expected = GetParam();
  Parser parser = sample_parser();
  const Outcome outcome = run(parser, expected.arguments);
  ASSERT_EQ(outcome.status, -1) << outcome.err;
  EXPECT_EQ(outcome.values.flag("xa"), expected.xa);
  EXPECT_EQ(outcome.values.flag("xb"), expected.xb);
  EXPECT_EQ(outcome.values.str("mode"), expected.mode);
  EXPECT_EQ(outcome.values.opt("dir"), expected.dir);
  EXPECT_EQ(outcome.values.str("target"), expected.target);
  EXPECT_TRUE(outcome.err.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, GrammarParse,
                         ::testing::Values(ParseCase{{}, false, false, "fast", std::nullopt, "all"},
                                           ParseCase{{"--xa"}, true, false, "fast", std::nullopt, "all"},
                                           ParseCase{{"--xb", "--xa"}, true, true, "fast", std::nullopt, "all"},
                                           ParseCase{{"--mode", "slow"}, false, false, "slow", std::nullopt, "all"},
                                           ParseCase{{"--mode=slow"}, false, false, "slow", std::nullopt, "all"},
                                           ParseCase{{"--mo", "slow"}, false, false, "slow", std::nullopt, "all"},
                                           ParseCase{{"--m=slow"}, false, false, "slow", std::nullopt, "all"},
                                           ParseCase{{"-C", "d"}, false, false, "fast", "d", "all"},
                                           ParseCase{{"-Cd"}, false, false, "fast", "d", "all"},
                                           ParseCase{{"-C=d"}, false, false, "fast", "d", "all"},
                                           ParseCase{{"-C", "-"}, false, false, "fast", "-", "all"},
                                           ParseCase{{"--dir", "x y"}, false, false, "fast", "x y", "all"},
                                           ParseCase{{"--dir="}, false, false, "fast", "", "all"},
                                           ParseCase{{"--d=a=b"}, false, false, "fast", "a=b", "all"},
                                           ParseCase{{"one"}, false, false, "fast", std::nullopt, "one"},
                                           ParseCase{{"--xa", "one", "--xb"}, true, true, "fast", std::nullopt, "one"},
                                           ParseCase{{"--", "--xa"}, false, false, "fast", std::nullopt, "--xa"},
                                           ParseCase{{"-"}, false, false, "fast", std::nullopt, "-"}));

struct ErrorCase
{
  std::vector<std::string> arguments;
  std::string error_line;
};

class GrammarError : public ::testing::TestWithParam<ErrorCase>
{};

TEST_P(GrammarError, PrintsUsageAndErrorAndEndsWithTwo)
{
  Parser parser = sample_parser();
  const Outcome outcome = run(parser, GetParam().arguments);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, parser.format_usage() + "\n" + GetParam().error_line + "\n");
  EXPECT_TRUE(outcome.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
  Cases, GrammarError,
  ::testing::Values(ErrorCase{{"--x"}, "prog: error: ambiguous option: --x could match --xa, --xb"},
                    ErrorCase{{"--x=1"}, "prog: error: ambiguous option: --x=1 could match --xa, --xb"},
                    ErrorCase{{"--mode", "medium"},
                              "prog: error: argument --mode: invalid choice: 'medium' (choose from 'fast', 'slow')"},
                    ErrorCase{{"--mode=Fast"},
                              "prog: error: argument --mode: invalid choice: 'Fast' (choose from 'fast', 'slow')"},
                    ErrorCase{{"--mode"}, "prog: error: argument --mode: expected one argument"},
                    ErrorCase{{"--mode", "--xa"}, "prog: error: argument --mode: expected one argument"},
                    ErrorCase{{"-C"}, "prog: error: argument -C/--dir: expected one argument"},
                    ErrorCase{{"--xa=1"}, "prog: error: argument --xa: ignored explicit argument '1'"},
                    ErrorCase{{"--bogus"}, "prog: error: unrecognized arguments: --bogus"},
                    ErrorCase{{"-x", "one", "two"}, "prog: error: unrecognized arguments: -x two"},
                    ErrorCase{{"one", "two", "three"}, "prog: error: unrecognized arguments: two three"}));

TEST(Grammar, HelpGoesToOutputAndEndsWithZero)
{
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"-h"}, {"--help"}, {"--he"}, {"--xa", "--help", "--bogus"}}) {
    Parser parser = sample_parser();
    const Outcome outcome = run(parser, arguments);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, parser.format_help());
    EXPECT_TRUE(outcome.err.empty());
  }
}

TEST(Grammar, HelpHasUsageDescriptionAndSections)
{
  const Parser parser = sample_parser();
  EXPECT_EQ(parser.format_help(), "usage: prog [-h] [--xa] [--xb] [--mode {fast,slow}] [-C DIR] [target]\n"
                                  "\n"
                                  "Sample description.\n"
                                  "\n"
                                  "positional arguments:\n"
                                  "  target              target help\n"
                                  "\n"
                                  "options:\n"
                                  "  -h, --help          show this help message and exit\n"
                                  "  --xa                first\n"
                                  "  --xb                second\n"
                                  "  --mode {fast,slow}  mode help\n"
                                  "  -C DIR, --dir DIR   dir help\n");
}

TEST(Grammar, VersionPrintsItsTextEvenBeforeOtherErrors)
{
  Parser parser("prog");
  parser.add_version("prog 1.2");
  const Outcome outcome = run(parser, {"--version", "--bogus"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "prog 1.2\n");
}

TEST(Grammar, RepeatedPositionalKeepsOrder)
{
  Parser parser("prog");
  parser.add_repeated_positional("items", "items help");
  EXPECT_EQ(run(parser, {}).values.list("items"), std::vector<std::string>{});
  EXPECT_EQ(run(parser, {"c", "a", "b"}).values.list("items"), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(parser.format_usage(), "usage: prog [-h] [items ...]");
}

Parser command_parser()
{
  Parser parser("prog");
  parser.add_option({"-C", "--dir"}, "dir", std::string("."), "dir help", {}, "DIR");
  parser.set_command_dest("command");
  Parser& go = parser.add_command("go", "go help");
  go.add_flag({"--fast"}, "fast", "fast help");
  parser.add_command("stop", "stop help");
  return parser;
}

TEST(GrammarCommands, OnlyTheChosenCommandsFieldsAreSet)
{
  Parser parser = command_parser();
  const Outcome go = run(parser, {"-C", "x", "go", "--f"});
  ASSERT_EQ(go.status, -1) << go.err;
  EXPECT_EQ(go.values.str("command"), "go");
  EXPECT_EQ(go.values.str("dir"), "x");
  EXPECT_TRUE(go.values.flag("fast"));
  EXPECT_EQ(go.values.values().size(), 3U);

  const Outcome stop = run(parser, {"stop"});
  ASSERT_EQ(stop.status, -1) << stop.err;
  EXPECT_FALSE(stop.values.has("fast"));
  EXPECT_EQ(stop.values.str("dir"), ".");
}

TEST(GrammarCommands, ErrorsNameTheParserConcerned)
{
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
    {{}, "prog: error: the following arguments are required: command"},
    {{"run"}, "prog: error: argument command: invalid choice: 'run' (choose from 'go', 'stop')"},
    {{"stop", "-C", "x"}, "prog stop: error: unrecognized arguments: -C x"},
    {{"go", "extra"}, "prog go: error: unrecognized arguments: extra"},
    {{"--fast", "go"}, "prog: error: unrecognized arguments: --fast"},
  };
  for (const auto& [arguments, line] : cases) {
    Parser parser = command_parser();
    const Outcome outcome = run(parser, arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(last_line(outcome.err), line);
    const std::string usage_start = line.substr(0, line.find(':'));
    EXPECT_EQ(outcome.err.rfind("usage: " + usage_start + " [-h]", 0), 0U) << outcome.err;
  }
}

TEST(GrammarCommands, HelpAtEveryLevel)
{
  Parser parser = command_parser();
  const Outcome top = run(parser, {"-h"});
  EXPECT_EQ(top.status, 0);
  EXPECT_NE(top.out.find("    go               go help\n"), std::string::npos) << top.out;
  const Outcome go = run(parser, {"go", "--help"});
  EXPECT_EQ(go.status, 0);
  EXPECT_EQ(go.out.rfind("usage: prog go [-h] [--fast]\n", 0), 0U) << go.out;
}

TEST(GrammarUsage, WrapsLongUsageUnderTheProgramName)
{
  Parser parser("prog");
  for (const char* name : {"--alpha-option", "--beta-option", "--gamma-option", "--delta-option"}) {
    parser.add_option({name}, std::string(name + 2), std::monostate{}, "h");
  }
  parser.add_optional_positional("target", "t", "h");
  const std::string usage = parser.format_usage();
  EXPECT_EQ(usage, "usage: prog [-h] [--alpha-option ALPHA-OPTION] [--beta-option BETA-OPTION]\n"
                   "            [--gamma-option GAMMA-OPTION] [--delta-option DELTA-OPTION]\n"
                   "            [target]");
}

} // namespace
} // namespace tolvo::cli
