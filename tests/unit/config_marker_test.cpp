#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

struct TextCase
{
  std::string text;
  std::string normal;
};

class MarkerText : public ::testing::TestWithParam<TextCase>
{};

TEST_P(MarkerText, Normalises)
{
  EXPECT_EQ(tolvo::config::Marker(GetParam().text).str(), GetParam().normal);
}

INSTANTIATE_TEST_SUITE_P(
  Table, MarkerText,
  ::testing::Values(TextCase{"python_version>='3.8' and (sys_platform=='linux' or os_name=='nt')",
                             "python_version >= \"3.8\" and (sys_platform == \"linux\" or os_name == \"nt\")"},
                    TextCase{"os.name == 'nt'", "os_name == \"nt\""},
                    TextCase{"sys.platform=='x'", "sys_platform == \"x\""},
                    TextCase{"platform.version=='x'", "platform_version == \"x\""},
                    TextCase{"platform.machine=='x'", "platform_machine == \"x\""},
                    TextCase{"python_implementation=='x'", "platform_python_implementation == \"x\""},
                    TextCase{"platform.python_implementation=='x'", "platform_python_implementation == \"x\""},
                    TextCase{"'linux' in sys_platform", "\"linux\" in sys_platform"},
                    TextCase{"sys_platform not  in 'win32'", "sys_platform not in \"win32\""},
                    TextCase{"((python_version < '3'))", "python_version < \"3\""},
                    // Parentheses that group an "or" under an "and" carry meaning, however
                    // many there are.
                    TextCase{"python_version>'3' and ((os_name=='a' or os_name=='b'))",
                             "python_version > \"3\" and (os_name == \"a\" or os_name == \"b\")"},
                    TextCase{"(((os_name=='a' or os_name=='b'))) and python_version>'3'",
                             "(os_name == \"a\" or os_name == \"b\") and python_version > \"3\""},
                    TextCase{"(os_name == 'a') or (os_name == 'b' and os_name ~= 'c')",
                             "os_name == \"a\" or (os_name == \"b\" and os_name ~= \"c\")"},
                    TextCase{"extra == 'Foo_Bar'", "extra == \"foo-bar\""},
                    TextCase{"'A.B' == extra", "\"a-b\" == extra"},
                    TextCase{"python_version === '3.8'", "python_version === \"3.8\""},
                    TextCase{std::string(tolvo::config::MARKER_MAX_NESTING, '(') + "os_name == 'a' or os_name == 'b'" +
                               std::string(tolvo::config::MARKER_MAX_NESTING, ')'),
                             "os_name == \"a\" or os_name == \"b\""}));

class InvalidMarker : public ::testing::TestWithParam<std::string>
{};

TEST_P(InvalidMarker, Throws)
{
  EXPECT_THROW(tolvo::config::Marker{GetParam()}, tolvo::InvalidValue);
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidMarker,
                         ::testing::Values("", "python_version", "python_version >= 3.8", "foo == 'x'", "os_name = 'x'",
                                           "(os_name == 'x'", "os_name == 'x')", "os_name == 'x' and",
                                           "os_name notin 'x'", "os_name == 'x", "python_versionx == '1'"));

// The refusal quotes the start of the marker only, so it stays one line.
TEST(InvalidMarker, NestingBeyondTheLimitIsRefusedWhereItGoesBeyond)
{
  const std::size_t depth = tolvo::config::MARKER_MAX_NESTING + 1;
  try {
    tolvo::config::Marker(std::string(depth, '(') + "os_name == 'a'" + std::string(depth, ')'));
    FAIL() << "not refused";
  } catch (const tolvo::InvalidValue& error) {
    EXPECT_EQ(error.what(), "Invalid marker: parentheses nested more than 100 deep at position 100 of '" +
                              std::string(depth, '(') + "os_name == 'a'" + std::string(85, ')') + "...'");
  }
}

struct EvalCase
{
  std::string marker;
  bool expected;
};

class MarkerEvaluation : public ::testing::TestWithParam<EvalCase>
{};

const tolvo::config::MarkerEnvironment ENV = {{"python_version", "3.10"},
                                              {"python_full_version", "3.10.0"},
                                              {"sys_platform", "linux"},
                                              {"platform_system", "Linux"},
                                              {"extra", "foo-bar"}};

TEST_P(MarkerEvaluation, Evaluates)
{
  EXPECT_EQ(tolvo::config::Marker(GetParam().marker).evaluate(ENV), GetParam().expected) << GetParam().marker;
}

INSTANTIATE_TEST_SUITE_P(
  Table, MarkerEvaluation,
  ::testing::Values(EvalCase{"python_version >= '3.8'", true}, EvalCase{"python_version >= '3.9.1'", true},
                    EvalCase{"python_version > '3.9'", true}, EvalCase{"python_version < '3.9'", false},
                    EvalCase{"python_version == '3.10.*'", true}, EvalCase{"python_version ~= '3.8'", true},
                    EvalCase{"python_full_version == '3.10'", true}, EvalCase{"'3.8' <= python_version", true},
                    EvalCase{"sys_platform == 'linux'", true}, EvalCase{"sys_platform != 'linux'", false},
                    EvalCase{"'lin' in sys_platform", true}, EvalCase{"'win' not in sys_platform", true},
                    EvalCase{"platform_system < 'Z'", false}, EvalCase{"platform_system >= 'Linux'", true},
                    EvalCase{"python_version == 'abc'", false}, EvalCase{"python_version === '3.10'", true},
                    EvalCase{"python_full_version === '3.10'", false}, EvalCase{"extra == 'Foo_Bar'", true},
                    EvalCase{"os_name == 'posix' and (extra == 'Foo_Bar')", true},
                    EvalCase{"os_name == 'posix' and sys_platform == 'linux' or sys_platform == 'win32'", true},
                    EvalCase{"sys_platform == 'win32' or sys_platform == 'darwin'", false},
                    EvalCase{"(sys_platform == 'win32' or python_version >= '3') and platform_system == 'Linux'",
                             true}));

class UndefinedComparison : public ::testing::TestWithParam<std::string>
{};

TEST_P(UndefinedComparison, Throws)
{
  EXPECT_THROW((void)tolvo::config::Marker(GetParam()).evaluate(ENV), tolvo::InvalidValue);
}

// Every term is evaluated, so an undefined one fails even after a true "or".
INSTANTIATE_TEST_SUITE_P(Table, UndefinedComparison,
                         ::testing::Values("sys_platform ~= 'linux'", "python_version ~= '3'",
                                           "sys_platform == 'linux' or os_name ~= 'x'", "sys_platform === 'linux'",
                                           "'a' == 'b'"));

TEST(Marker, EvaluatesWithMachineDefaults)
{
  const auto& env = tolvo::config::default_marker_environment();
  EXPECT_EQ(env.at("os_name"), "posix");
  EXPECT_EQ(env.at("extra"), "");
  EXPECT_FALSE(env.at("platform_machine").empty());
  EXPECT_TRUE(tolvo::config::Marker("os_name == 'posix' and extra == ''").evaluate());
  EXPECT_TRUE(tolvo::config::Marker("platform_machine == '" + env.at("platform_machine") + "'").evaluate());
}

TEST(Marker, EqualityIsByNormalText)
{
  EXPECT_EQ(tolvo::config::Marker("os_name=='a'"), tolvo::config::Marker("os.name == \"a\""));
  EXPECT_FALSE(tolvo::config::Marker("os_name=='a'") == tolvo::config::Marker("os_name=='b'"));
}

} // namespace
