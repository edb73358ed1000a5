#include "tolvo/cli/init_command.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

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
    EXPECT_NO_THROW(tolvo::cli::check_project_name(GetParam().name));
  } else {
    EXPECT_THROW(tolvo::cli::check_project_name(GetParam().name), tolvo::InvalidValue);
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

// The first test is named after the package and imports it by the name
// Python finds it under: the directory path with dots.
TEST(FirstTest, ImportsThePackageUnderTests)
{
  struct Case
  {
    const char* name;
    const char* path;
    const char* module_literal;
  };
  const std::vector<Case> cases = {
    {"demo_pkg", "tests/test_demo_pkg.py", "\"demo_pkg\""},
    {"my-project", "tests/test_my_project.py", "\"my-project\""},
    {"org/pkg/", "tests/test_org_pkg.py", "\"org.pkg\""},
    {"./a b", "tests/test_a_b.py", "\"a b\""},
    {"back\\slash", "tests/test_back_slash.py", "\"back\\\\slash\""},
  };
  for (const Case& c : cases) {
    const tolvo::cli::FirstTest test = tolvo::cli::first_test(c.name);
    EXPECT_EQ(test.path, c.path);
    const std::string module = c.module_literal;
    EXPECT_NE(test.text.find("importlib.import_module(" + module + ")"), std::string::npos) << test.text;
    EXPECT_NE(test.text.find("assert module.__name__ == " + module + "\n"), std::string::npos) << test.text;
  }
}

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
