#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/template.hpp"
#include "tolvo/config/toml_access.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

using tolvo::config::fill_template;
using tolvo::config::TemplateValues;

struct FillCase
{
  const char* text;
  const char* filled;
};

class FillTemplate : public ::testing::TestWithParam<FillCase>
{};

TEST_P(FillTemplate, ReplacesPlaceholdersAndDoubledBraces)
{
  const TemplateValues values{{"name", "demo"}, {"empty", ""}, {"braces", "{x}"}};
  EXPECT_EQ(fill_template("t.tpl", GetParam().text, values), GetParam().filled);
}

INSTANTIATE_TEST_SUITE_P(Cases, FillTemplate,
                         ::testing::Values(FillCase{"", ""}, FillCase{"plain text", "plain text"},
                                           FillCase{"{name}", "demo"}, FillCase{"a{name}b{name}c", "ademobdemoc"},
                                           FillCase{"[{empty}]", "[]"},
                                           // A value is inserted as it is, never filled again.
                                           FillCase{"{braces}", "{x}"}, FillCase{"{{", "{"}, FillCase{"}}", "}"},
                                           FillCase{"{{name}}", "{name}"}, FillCase{"{{{name}}}", "{demo}"},
                                           FillCase{"x = {{ a = \"{name}\" }}", "x = { a = \"demo\" }"},
                                           FillCase{"\xc3\xa9{name}\n", "\xc3\xa9"
                                                                        "demo\n"}));

struct FaultCase
{
  const char* text;
  const char* message_part;
};

class FillTemplateFault : public ::testing::TestWithParam<FaultCase>
{};

TEST_P(FillTemplateFault, ThrowsValueErrorNamingTemplateAndFault)
{
  const TemplateValues values{{"name", "demo"}};
  try {
    fill_template("broken.tpl", GetParam().text, values);
    FAIL() << "no error for " << GetParam().text;
  } catch (const tolvo::InvalidValue& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("'broken.tpl'"), std::string::npos) << message;
    EXPECT_NE(message.find(GetParam().message_part), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
  Cases, FillTemplateFault,
  ::testing::Values(FaultCase{"{other}", "unknown placeholder 'other'"}, FaultCase{"{}", "unknown placeholder ''"},
                    FaultCase{"{Name}", "unknown placeholder 'Name'"},
                    FaultCase{"{name!r}", "unknown placeholder 'name!r'"}, FaultCase{"{", "unpaired '{' at offset 0"},
                    FaultCase{"ab{name", "unpaired '{' at offset 2"},
                    FaultCase{"{na{name}", "unpaired '{' at offset 0"}, FaultCase{"}", "single '}' at offset 0"},
                    FaultCase{"{name}}", "single '}' at offset 6"}, FaultCase{"{{{", "unpaired '{' at offset 2"}));

struct EscapeCase
{
  std::string value;
  std::string escaped;
};

class EscapeTomlBasicString : public ::testing::TestWithParam<EscapeCase>
{};

TEST_P(EscapeTomlBasicString, EscapesOnlyWhatTomlRequires)
{
  EXPECT_EQ(tolvo::config::escape_toml_basic_string(GetParam().value), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, EscapeTomlBasicString,
  ::testing::Values(EscapeCase{"", ""}, EscapeCase{"Ann Author <ann@example.org>", "Ann Author <ann@example.org>"},
                    EscapeCase{"caf\xc3\xa9 \xe2\x80\x94 {x} 'q' #", "caf\xc3\xa9 \xe2\x80\x94 {x} 'q' #"},
                    EscapeCase{"A \"Quoted\" Name", "A \\\"Quoted\\\" Name"}, EscapeCase{"C:\\temp", "C:\\\\temp"},
                    EscapeCase{"a\nb\r\n\t\b\f", "a\\nb\\r\\n\\t\\b\\f"},
                    EscapeCase{std::string("\x00\x01\x1f\x7f", 4), "\\u0000\\u0001\\u001F\\u007F"}));

// Escaped values read back as typed, and none breaks out of its string.
TEST(BuiltInTemplates, PyprojectReadsEscapedValuesBackAsTyped)
{
  const TemplateValues typed{{"name", "demo\\pkg"},
                             {"description", "C:\\temp \"x\"\nrequires-python = \"<3\"\n[injected]\n"},
                             {"author_name", "A \"Quoted\" Name"},
                             {"author_email", "a\tb\x01@example.org"},
                             {"license_spdx", "MIT\r\n"},
                             {"python_version", ">=3.11"}};
  TemplateValues escaped;
  for (const auto& [name, value] : typed) {
    escaped[name] = tolvo::config::escape_toml_basic_string(value);
  }
  const toml::table document = tolvo::config::parse_document(
    fill_template("pyproject.toml.tpl", tolvo::config::read_template("pyproject.toml.tpl"), escaped), "<filled>");
  const auto project = document["project"];
  EXPECT_EQ(project["name"].value<std::string>(), typed.at("name"));
  EXPECT_EQ(project["description"].value<std::string>(), typed.at("description"));
  EXPECT_EQ(project["requires-python"].value<std::string>(), ">=3.11");
  EXPECT_EQ(project["license"].value<std::string>(), typed.at("license_spdx"));
  EXPECT_EQ(project["authors"][0]["name"].value<std::string>(), typed.at("author_name"));
  EXPECT_EQ(project["authors"][0]["email"].value<std::string>(), typed.at("author_email"));
  EXPECT_EQ(project["keywords"][0].value<std::string>(), typed.at("name"));
  EXPECT_FALSE(document.contains("injected"));
}

TEST(ReadTemplate, UnknownTemplateIsNotFound)
{
  EXPECT_THROW(tolvo::config::read_template("setup.cfg.tpl"), tolvo::NotFoundError);
}

// Each placeholder of a built-in template is used and lands where it should.
TEST(BuiltInTemplates, PyprojectUsesEveryPlaceholderAndParses)
{
  const TemplateValues values{{"name", "demo_pkg"},    {"description", "A demo"},
                              {"author_name", "Ann"},  {"author_email", "ann@example.org"},
                              {"license_spdx", "MIT"}, {"python_version", ">=3.11"}};
  const std::string filled =
    fill_template("pyproject.toml.tpl", tolvo::config::read_template("pyproject.toml.tpl"), values);
  for (const auto& [name, value] : values) {
    EXPECT_NE(filled.find(value), std::string::npos) << name;
  }
  EXPECT_NE(filled.find("license = \"MIT\""), std::string::npos);
  std::istringstream stream(filled);
  const tolvo::config::ProjectConfig config(stream);
  EXPECT_EQ(config.name(), "demo_pkg");
  EXPECT_EQ(config.requires_python(), ">=3.11");
  EXPECT_FALSE(config.build_system_requires().empty());
  EXPECT_FALSE(config.build_backend().empty());
  ASSERT_TRUE(config.pyright_exclude().has_value());
  ASSERT_TRUE(config.ruff_exclude().has_value());
  const auto extras = config.extras();
  ASSERT_TRUE(extras.has_value());
  bool has_test_group = false;
  for (const auto& group : *extras) {
    has_test_group = has_test_group || group.name == "test";
  }
  EXPECT_TRUE(has_test_group);
}

TEST(BuiltInTemplates, PyprojectRejectsAMissingPlaceholderValue)
{
  const std::string text = tolvo::config::read_template("pyproject.toml.tpl");
  const char* names[] = {"name", "description", "author_name", "author_email", "license_spdx", "python_version"};
  for (const char* left_out : names) {
    TemplateValues values;
    for (const char* name : names) {
      if (std::string(name) != left_out) {
        values[name] = "v";
      }
    }
    EXPECT_THROW(fill_template("pyproject.toml.tpl", text, values), tolvo::InvalidValue) << left_out;
  }
}

TEST(BuiltInTemplates, WorkflowUsesProjectName)
{
  const std::string filled =
    fill_template("build.yml.tpl", tolvo::config::read_template("build.yml.tpl"), {{"project_name", "demo_pkg"}});
  EXPECT_NE(filled.find("demo_pkg"), std::string::npos);
  // The workflow has no literal braces, so none survive filling.
  EXPECT_EQ(filled.find_first_of("{}"), std::string::npos);
  EXPECT_THROW(fill_template("build.yml.tpl", tolvo::config::read_template("build.yml.tpl"), {}), tolvo::InvalidValue);
}

} // namespace
