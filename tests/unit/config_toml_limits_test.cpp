#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/toml_limits.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

using tolvo::config::check_toml_limits;
using tolvo::config::TOML_MAX_KEY_PARTS;
using tolvo::config::TOML_MAX_NESTING;

std::string repeat(const std::string& text, std::size_t times)
{
  std::string out;
  for (std::size_t i = 0; i < times; ++i) {
    out += text;
  }
  return out;
}

/// A dotted key of `parts` parts, each `part`, joined by `dot`.
std::string dotted(std::size_t parts, const std::string& part = "k", const std::string& dot = ".")
{
  return part + repeat(dot + part, parts - 1);
}

struct LimitCase
{
  const char* label;
  std::string document;
  /// The whole message; empty when the document is within the limits.
  std::string message;
};

void PrintTo(const LimitCase& c, std::ostream* os)
{
  *os << c.label;
}

class TomlLimits : public testing::TestWithParam<LimitCase>
{};

TEST_P(TomlLimits, RefusesOnlyWhatGoesBeyondWithItsPosition)
{
  const LimitCase& c = GetParam();
  if (c.message.empty()) {
    // Within the limits and valid TOML: the reader takes it.
    std::istringstream stream(c.document);
    EXPECT_NO_THROW(tolvo::config::ProjectConfig{stream});
    return;
  }
  try {
    check_toml_limits(c.document, "pyproject.toml");
    FAIL() << "not refused";
  } catch (const tolvo::InvalidValue& error) {
    EXPECT_EQ(error.what(), c.message);
  }
}

const std::string TOO_MANY_PARTS =
  "pyproject.toml: too deep to read: a dotted key or table header of more than 64 parts";
const std::string TOO_DEEP = "pyproject.toml: too deep to read: arrays and inline tables nested more than 32 deep";

INSTANTIATE_TEST_SUITE_P(
  Cases, TomlLimits,
  testing::Values(
    LimitCase{"key_at_limit", dotted(TOML_MAX_KEY_PARTS) + " = 1\n", ""},
    LimitCase{"key_beyond", "a = 1\n" + dotted(TOML_MAX_KEY_PARTS + 1) + " = 1\n",
              TOO_MANY_PARTS + " (line 2, column 129)"},
    LimitCase{"header_beyond", "[" + dotted(TOML_MAX_KEY_PARTS + 1) + "]\n", TOO_MANY_PARTS + " (line 1, column 130)"},
    LimitCase{"array_header_beyond", "[[" + dotted(TOML_MAX_KEY_PARTS + 1) + "]]\n",
              TOO_MANY_PARTS + " (line 1, column 131)"},
    // Quoted parts count, blanks around the dots do not part a key; the
    // column counts characters, not bytes.
    LimitCase{"quoted_and_spaced_beyond", "\"\xc3\xa9\" = 1\n" + dotted(TOML_MAX_KEY_PARTS + 1, "'\xc3\xa9'", " . "),
              TOO_MANY_PARTS + " (line 2, column 385)"},
    LimitCase{"inline_key_beyond", "x = {" + dotted(TOML_MAX_KEY_PARTS + 1) + " = 1}\n",
              TOO_MANY_PARTS + " (line 1, column 134)"},
    LimitCase{"nesting_at_limit", "x = " + repeat("[", TOML_MAX_NESTING) + repeat("]", TOML_MAX_NESTING) + "\n", ""},
    LimitCase{"arrays_beyond", "a = 1\nx = " + repeat("[", TOML_MAX_NESTING + 1), TOO_DEEP + " (line 2, column 37)"},
    LimitCase{"inline_tables_beyond", "x = " + repeat("{a = ", TOML_MAX_NESTING + 1),
              TOO_DEEP + " (line 1, column 165)"},
    LimitCase{"arrays_over_lines_beyond", "x = " + repeat("[\n", TOML_MAX_NESTING + 1),
              TOO_DEEP + " (line 33, column 1)"},
    // Brackets and dots in strings and comments are text, not structure.
    LimitCase{"strings_and_comments_within",
              "a = \"" + repeat("[k.", 100) + "\\\"" + repeat("{", 100) + "\"\n" + "b = '" + repeat("[.k", 100) +
                "'\n" + "c = \"\"\"\n" + repeat("[{.k\\\"\"\"", 100) + "\n\"\"\"\n" + "d = '''" + repeat("[.k\n", 100) +
                "'''\n" + "# " + repeat("[.k", 100) + "\n" + "e = [1.5, 2.5]\n",
              ""}),
  [](const testing::TestParamInfo<LimitCase>& case_info) { return std::string(case_info.param.label); });

// A document at every limit at once is as deep as a document tolvo reads
// gets: a key at most, then every nested inline table with a key at most.
// toml++ builds, walks and frees a tree that deep without harm.
TEST(TomlLimits, TheDeepestDocumentWithinTheLimitsParses)
{
  const std::string key = dotted(TOML_MAX_KEY_PARTS);
  const std::string document = "[project." + dotted(TOML_MAX_KEY_PARTS - 1) + "]\n" + key + " = " +
                               repeat("{" + key + " = ", TOML_MAX_NESTING) + "1" + repeat("}", TOML_MAX_NESTING) + "\n";
  std::istringstream stream(document);
  const tolvo::config::ProjectConfig config(stream);
  EXPECT_THROW((void)config.name(), tolvo::MissingKeyError);
}

} // namespace
