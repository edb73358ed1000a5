#include "tolvo/cli/project_commands.hpp"

#include <gtest/gtest.h>

namespace tolvo::cli {
namespace {

using Args = std::vector<std::string>;

struct PathCase
{
  std::optional<std::string> path;
  bool tests_directory;
  Args passed;
  Args expected;
};

class PytestArguments : public ::testing::TestWithParam<PathCase>
{};

// Without a path and without tests/, pytest is given none, so that its
// own testpaths (or its discovery) decide where the tests are.
TEST_P(PytestArguments, PathGivenElseTestsDirectoryElseNone)
{
  const PathCase& c = GetParam();
  EXPECT_EQ(pytest_arguments(c.path, c.tests_directory, c.passed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
  Table, PytestArguments,
  ::testing::Values(PathCase{std::nullopt, true, {}, {"-um", "pytest", "-vv", "tests/"}},
                    PathCase{std::nullopt, false, {}, {"-um", "pytest", "-vv"}},
                    PathCase{std::nullopt, false, {"-k", "x"}, {"-um", "pytest", "-vv", "-k", "x"}},
                    PathCase{"testing/unit", true, {"-x"}, {"-um", "pytest", "-vv", "testing/unit", "-x"}},
                    // Named by the user, it is passed even when it is not there.
                    PathCase{"tests/", false, {}, {"-um", "pytest", "-vv", "tests/"}}));

} // namespace
} // namespace tolvo::cli
