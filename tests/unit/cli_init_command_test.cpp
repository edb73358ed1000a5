#include "tolvo/cli/init_command.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

struct NameCase
{
  const char* name;
  bool accepted;
};

class ProjectName : public ::testing::TestWithParam<NameCase>
{};

TEST_P(ProjectName, AcceptsOnlyPlainPathsInsideTheProject)
{
  if (GetParam().accepted) {
    EXPECT_NO_THROW(tolvo::cli::_check_project_name(GetParam().name));
  } else {
    EXPECT_THROW(tolvo::cli::_check_project_name(GetParam().name), tolvo::ValueError);
  }
}

INSTANTIATE_TEST_SUITE_P(
  Cases, ProjectName,
  ::testing::Values(NameCase{"demo", true}, NameCase{"my-project", true}, NameCase{"My Project", true},
                    NameCase{"a/b", true}, NameCase{"a..b", true}, NameCase{"..a", true}, NameCase{"", false},
                    NameCase{"/abs", false}, NameCase{"/", false}, NameCase{"..", false}, NameCase{"../up", false},
                    NameCase{"a/../b", false}, NameCase{"a/..", false}, NameCase{"a/../../x", false},
                    // One line of UTF-8 text without quotes: it also stands
                    // between quotes in pyproject.toml and the workflow file.
                    NameCase{"caf\xc3\xa9", true}, NameCase{"a: b #c", true}, NameCase{"a\nb", false},
                    NameCase{"a\tb", false}, NameCase{"a\x7f", false}, NameCase{"a\xc2\x85", false},
                    NameCase{"caf\xe9", false}, NameCase{"A \"Quoted\" Name", false}, NameCase{"it's", false},
                    NameCase{"a`b", false}));

TEST(GetArg, GivenValueIsReturnedWithoutPrompt)
{
  EXPECT_EQ(tolvo::cli::get_arg(std::string("value"), "Prompt: "), "value");
}

TEST(GetArg, MissingOrEmptyWithoutTerminalIsMissing)
{
  if (::isatty(STDIN_FILENO) != 0) {
    GTEST_SKIP() << "standard input is a terminal; the end-to-end suite covers prompting";
  }
  EXPECT_EQ(tolvo::cli::get_arg(std::nullopt, "Prompt: "), std::nullopt);
  EXPECT_EQ(tolvo::cli::get_arg(std::string(), "Prompt: "), std::nullopt);
}

} // namespace
