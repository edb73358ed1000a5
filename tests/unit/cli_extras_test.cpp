#include "tolvo/cli/project_commands.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

tolvo::config::ProjectConfig config_of(const std::string& text)
{
  std::istringstream stream(text);
  return tolvo::config::ProjectConfig(stream);
}

constexpr const char* WITH_GROUPS = "[project]\nname = \"demo\"\n[project.optional-dependencies]\n"
                                    "test = [\"pytest\"]\ndev = [\"ruff\"]\n\"\xc3\xa9t\xc3\xa9\" = []\nZed = []\n";

} // namespace

struct ExtrasCase
{
  std::vector<std::string> extras;
  std::string error; // empty when valid
};

class ValidateExtrasTest : public ::testing::TestWithParam<ExtrasCase>
{};

TEST_P(ValidateExtrasTest, AcceptsDefinedNamesAndNamesTheFirstUnknown)
{
  const tolvo::config::ProjectConfig config = config_of(WITH_GROUPS);
  if (GetParam().error.empty()) {
    EXPECT_EQ(tolvo::cli::validate_extras(config, GetParam().extras), GetParam().extras);
    return;
  }
  try {
    tolvo::cli::validate_extras(config, GetParam().extras);
    FAIL() << "no InvalidValue";
  } catch (const tolvo::InvalidValue& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
  Cases, ValidateExtrasTest,
  ::testing::Values(ExtrasCase{{}, ""}, ExtrasCase{{"test", "dev", "test"}, ""},
                    ExtrasCase{{"web", "dev"}, "Unknown extra 'web'. Available: Zed, dev, test, \xc3\xa9t\xc3\xa9"},
                    ExtrasCase{{"dev", "Test", "web"},
                               "Unknown extra 'Test'. Available: Zed, dev, test, \xc3\xa9t\xc3\xa9"}));

TEST(ValidateExtrasTest, ProjectWithoutGroupsRejectsEveryName)
{
  const tolvo::config::ProjectConfig config = config_of("[project]\nname = \"demo\"\n");
  try {
    tolvo::cli::validate_extras(config, {"test"});
    FAIL() << "no InvalidValue";
  } catch (const tolvo::InvalidValue& error) {
    EXPECT_EQ(std::string(error.what()), "Unknown extra 'test'. Available: ");
  }
  EXPECT_TRUE(tolvo::cli::validate_extras(config, {}).empty());
}
