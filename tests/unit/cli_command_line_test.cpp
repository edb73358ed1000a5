#include "tolvo/cli/command_line.hpp"
#include "tolvo/errors.hpp"

#include "support/parse_outcome.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace tolvo::cli {
namespace {

using Outcome = tolvo::testing::ParseOutcome;

Outcome run(const std::vector<std::string>& arguments)
{
  Parser parser = build_parser("9.9");
  return tolvo::testing::parse_outcome(parser, arguments);
}

using Fields = std::map<std::string, Value, std::less<>>;
const Value NONE = std::monostate{};

std::vector<std::string> list(std::initializer_list<const char*> items)
{
  return std::vector<std::string>(items.begin(), items.end());
}

struct TableCase
{
  std::vector<std::string> arguments;
  Fields fields;
};

class CommandLineParse : public ::testing::TestWithParam<TableCase>
{};

TEST_P(CommandLineParse, GivesExactlyTheCommandsFields)
{
  const Outcome outcome = run(GetParam().arguments);
  ASSERT_EQ(outcome.status, -1) << outcome.err;
  EXPECT_EQ(outcome.values.values(), GetParam().fields);
}

const std::string DOT = ".";

INSTANTIATE_TEST_SUITE_P(
  Table, CommandLineParse,
  ::testing::Values(
    TableCase{{"requirements"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("requirements")},
               {"extras", list({})}}},
    TableCase{{"requirements", "web", "test"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("requirements")},
               {"extras", list({"web", "test"})}}},
    TableCase{{"-C", "somewhere", "status"},
              {{"directory", std::string("somewhere")},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("status")}}},
    TableCase{
      {"--directory=d", "clean"},
      {{"directory", std::string("d")}, {"refresh", NONE}, {"installer", NONE}, {"command", std::string("clean")}}},
    TableCase{{"--dir", "d", "config-diff"},
              {{"directory", std::string("d")},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("config-diff")}}},
    TableCase{{"test"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("test")},
               {"wheel", false},
               {"arch", std::string("x86_64")},
               {"libc", std::string("glibc")},
               {"python", std::string("3.11")},
               {"setup", NONE},
               {"path", NONE},
               {"pytest_args", list({})}}},
    TableCase{{"test", "--wheel", "--arch", "riscv64", "--libc=musl", "--py", "3.12", "--setup", "s.sh", "t/x.py"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("test")},
               {"wheel", true},
               {"arch", std::string("riscv64")},
               {"libc", std::string("musl")},
               {"python", std::string("3.12")},
               {"setup", std::string("s.sh")},
               {"path", std::string("t/x.py")},
               {"pytest_args", list({})}}},
    TableCase{{"--refresh", "when-needed", "--inst=uv", "test", "t", "--", "-k", "name", "--", "-x"},
              {{"directory", DOT},
               {"refresh", std::string("when-needed")},
               {"installer", std::string("uv")},
               {"command", std::string("test")},
               {"wheel", false},
               {"arch", std::string("x86_64")},
               {"libc", std::string("glibc")},
               {"python", std::string("3.11")},
               {"setup", NONE},
               {"path", std::string("t")},
               {"pytest_args", list({"-k", "name", "--", "-x"})}}},
    TableCase{{"build"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("build")},
               {"sdist", false},
               {"wheel", false},
               {"native_wheel", false},
               {"arch", std::string("x86_64")},
               {"libc", std::string("glibc")},
               {"python", std::string("3.11")},
               {"setup", NONE}}},
    TableCase{{"build", "--native", "--sdist", "--wheel", "--arch", "aarch64", "--set=x"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("build")},
               {"sdist", true},
               {"wheel", true},
               {"native_wheel", true},
               {"arch", std::string("aarch64")},
               {"libc", std::string("glibc")},
               {"python", std::string("3.11")},
               {"setup", std::string("x")}}},
    TableCase{
      {"lint"},
      {{"directory", DOT}, {"refresh", NONE}, {"installer", NONE}, {"command", std::string("lint")}, {"fix", false}}},
    TableCase{
      {"lint", "--fix"},
      {{"directory", DOT}, {"refresh", NONE}, {"installer", NONE}, {"command", std::string("lint")}, {"fix", true}}},
    TableCase{{"init"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("init")},
               {"name", NONE},
               {"description", NONE},
               {"author_name", NONE},
               {"author_email", NONE},
               {"license", NONE}}},
    TableCase{{"init", "--name", "p", "--desc", "d e", "--author-n", "A", "--author-e=a@b", "--lic", "MIT OR X"},
              {{"directory", DOT},
               {"refresh", NONE},
               {"installer", NONE},
               {"command", std::string("init")},
               {"name", std::string("p")},
               {"description", std::string("d e")},
               {"author_name", std::string("A")},
               {"author_email", std::string("a@b")},
               {"license", std::string("MIT OR X")}}}));

struct ErrorCase
{
  std::vector<std::string> arguments;
  std::string error_line;
};

class CommandLineError : public ::testing::TestWithParam<ErrorCase>
{};

TEST_P(CommandLineError, EndsWithTwoAndTheErrorLine)
{
  const Outcome outcome = run(GetParam().arguments);
  EXPECT_EQ(outcome.status, 2);
  ASSERT_FALSE(outcome.err.empty());
  const std::string err = outcome.err.substr(0, outcome.err.size() - 1);
  EXPECT_EQ(err.substr(err.rfind('\n') + 1), GetParam().error_line);
  EXPECT_EQ(outcome.err.rfind("usage: ", 0), 0U);
  EXPECT_TRUE(outcome.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
  Table, CommandLineError,
  ::testing::Values(
    ErrorCase{{}, "tolvo: error: the following arguments are required: command"},
    ErrorCase{{"-C", "x"}, "tolvo: error: the following arguments are required: command"},
    ErrorCase{{"deploy"},
              "tolvo: error: argument command: invalid choice: 'deploy' (choose from 'requirements', 'test', 'build', "
              "'clean', 'lint', 'status', 'config-diff', 'init')"},
    ErrorCase{{"status", "-C", "x"}, "tolvo status: error: unrecognized arguments: -C x"},
    ErrorCase{{"status", "--directory=x"}, "tolvo status: error: unrecognized arguments: --directory=x"},
    ErrorCase{{"--fix", "lint"}, "tolvo: error: unrecognized arguments: --fix"},
    ErrorCase{{"-C"}, "tolvo: error: argument -C/--directory: expected one argument"},
    ErrorCase{{"test", "--libc", "uclibc"},
              "tolvo test: error: argument --libc: invalid choice: 'uclibc' (choose from 'glibc', 'musl')"},
    ErrorCase{{"build", "--libc=GLIBC"},
              "tolvo build: error: argument --libc: invalid choice: 'GLIBC' (choose from 'glibc', 'musl')"},
    ErrorCase{{"test", "a", "b"}, "tolvo test: error: unrecognized arguments: b"},
    ErrorCase{{"test", "--arch"}, "tolvo test: error: argument --arch: expected one argument"},
    ErrorCase{{"build", "--s"}, "tolvo build: error: ambiguous option: --s could match --sdist, --setup"},
    ErrorCase{{"init", "--author", "x"},
              "tolvo init: error: ambiguous option: --author could match --author-name, --author-email"},
    ErrorCase{{"clean", "now"}, "tolvo clean: error: unrecognized arguments: now"},
    ErrorCase{{"lint", "--fix=yes"}, "tolvo lint: error: argument --fix: ignored explicit argument 'yes'"},
    ErrorCase{{"--versio=1"}, "tolvo: error: argument --version: ignored explicit argument '1'"},
    ErrorCase{{"--refresh", "never", "test"},
              "tolvo: error: argument --refresh: invalid choice: 'never' (choose from 'always', 'when-needed')"},
    ErrorCase{{"test", "--refresh=always"}, "tolvo test: error: unrecognized arguments: --refresh=always"},
    ErrorCase{{"--installer", "conda", "test"},
              "tolvo: error: argument --installer: invalid choice: 'conda' (choose from 'pip', 'uv')"},
    ErrorCase{{"status", "--installer=uv"}, "tolvo status: error: unrecognized arguments: --installer=uv"},
    ErrorCase{{"lint", "--", "--fix"}, "tolvo lint: error: unrecognized arguments: --fix"}));

TEST(CommandLine, HelpAtEveryLevelEndsWithZero)
{
  for (const char* command : {"requirements", "test", "build", "clean", "lint", "status", "config-diff", "init"}) {
    const Outcome outcome = run({command, "-h"});
    EXPECT_EQ(outcome.status, 0) << command;
    EXPECT_EQ(outcome.out.rfind(std::string("usage: tolvo ") + command + " [-h]", 0), 0U) << outcome.out;
    EXPECT_TRUE(outcome.err.empty());
  }
  const Outcome top = run({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out, build_parser("9.9").format_help());
}

TEST(CommandLine, VersionWithoutCommand)
{
  const Outcome outcome = run({"--version"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "tolvo 9.9\n");
  EXPECT_EQ(run({"--vers"}).out, "tolvo 9.9\n");
  EXPECT_EQ(build_parser().format_usage().find("tolvo dev"), std::string::npos);
}

TEST(CommandLine, UsageLine)
{
  EXPECT_EQ(build_parser().format_usage(),
            "usage: tolvo [-h] [--version] [-C DIRECTORY] [--refresh {always,when-needed}]\n"
            "             [--installer {pip,uv}]\n"
            "             {requirements,test,build,clean,lint,status,config-diff,init} ...");
  const Outcome test_help = run({"test", "-h"});
  EXPECT_NE(test_help.out.find("[path] [-- ARGS ...]\n"), std::string::npos) << test_help.out;
}

TEST(CommandLine, TopLevelHelpListsCommandsInOrder)
{
  const std::string help = build_parser().format_help();
  std::size_t previous = 0;
  for (const char* line : {"A native command-line tool that replaces the Makefile of a Python project.\n",
                           "    requirements        Create .venv and install dependencies\n",
                           "    test                Run tests (default: all tests in tests/)\n",
                           "    build               Build wheel and source distribution\n",
                           "    clean               Remove build artifacts\n", "    lint                Run linting\n",
                           "    status              Output status information\n",
                           "    config-diff         Compare project's pyproject.toml against template\n",
                           "    init                Initialize a new project\n",
                           "  -h, --help            show this help message and exit\n",
                           "  --version             show program's version number and exit\n",
                           "  -C DIRECTORY, --directory DIRECTORY\n"
                           "                        Change to DIRECTORY before doing anything\n"}) {
    const std::size_t at = help.find(line, previous);
    ASSERT_NE(at, std::string::npos) << line << "\n" << help;
    previous = at;
  }
}

} // namespace
} // namespace tolvo::cli
