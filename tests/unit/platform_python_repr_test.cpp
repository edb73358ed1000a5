#include "tolvo/platform/python_repr.hpp"

#include <gtest/gtest.h>

namespace {

using tolvo::platform::python_list_display;
using tolvo::platform::python_string_literal;

struct LiteralCase
{
  const char* text;
  const char* literal;
};

class PythonStringLiteral : public testing::TestWithParam<LiteralCase>
{};

TEST_P(PythonStringLiteral, MatchesPythonRepr)
{
  EXPECT_EQ(python_string_literal(GetParam().text), GetParam().literal);
}

// Expected values are what CPython 3.11 repr() prints.
INSTANTIATE_TEST_SUITE_P(
  Cases, PythonStringLiteral,
  testing::Values(LiteralCase{"", "''"}, LiteralCase{".venv", "'.venv'"}, LiteralCase{"it's", "\"it's\""},
                  LiteralCase{"say \"hi\"", "'say \"hi\"'"}, LiteralCase{"both ' and \"", "'both \\' and \"'"},
                  LiteralCase{"back\\slash", "'back\\\\slash'"}, LiteralCase{"tab\there", "'tab\\there'"},
                  LiteralCase{"line\nbreak\r", "'line\\nbreak\\r'"}, LiteralCase{"bell\a", "'bell\\x07'"},
                  LiteralCase{"del\x7f", "'del\\x7f'"}, LiteralCase{"caf\xc3\xa9", "'caf\xc3\xa9'"},
                  LiteralCase{"nbsp\xc2\xa0", "'nbsp\\xa0'"}, LiteralCase{"sep\xe2\x80\xa8", "'sep\\u2028'"},
                  LiteralCase{"bom\xef\xbb\xbf", "'bom\\ufeff'"}));

TEST(PythonListDisplay, ShowsEveryItemInOrder)
{
  EXPECT_EQ(python_list_display({}), "[]");
  EXPECT_EQ(python_list_display({".venv", "build"}), "['.venv', 'build']");
  EXPECT_EQ(python_list_display({"a'b", "c"}), "[\"a'b\", 'c']");
}

} // namespace
