#include "tolvo/venv/pyvenv_cfg.hpp"

#include "support/scoped_temp_dir.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tolvo::venv {
namespace {

struct CfgCase
{
  const char* label;
  const char* text;
  bool include;
  const char* rewritten; // nullptr: already says so
};

void PrintTo(const CfgCase& c, std::ostream* os)
{
  *os << c.label;
}

class SystemSiteSetting : public ::testing::TestWithParam<CfgCase>
{};

TEST_P(SystemSiteSetting, ReadAsTheSiteModuleReadsIt)
{
  const CfgCase& c = GetParam();
  const std::optional<std::string> out = with_system_site_packages(c.text, c.include);
  if (c.rewritten == nullptr) {
    EXPECT_FALSE(out.has_value()) << *out;
  } else {
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, c.rewritten);
  }
}

constexpr const char* MADE_WITH = "home = /usr/bin\ninclude-system-site-packages = true\nversion = 3.11.2\n";

INSTANTIATE_TEST_SUITE_P(
  Table, SystemSiteSetting,
  ::testing::Values(CfgCase{"true_kept", MADE_WITH, true, nullptr},
                    CfgCase{"true_to_false", MADE_WITH, false,
                            "home = /usr/bin\ninclude-system-site-packages = false\nversion = 3.11.2\n"},
                    CfgCase{"false_to_true", "home = /x\ninclude-system-site-packages = false\n", true,
                            "home = /x\ninclude-system-site-packages = true\n"},
                    CfgCase{"case_and_blanks", "Include-System-Site-Packages=  FALSE \r\nhome = /x", false, nullptr},
                    // The interpreter includes them unless told otherwise.
                    CfgCase{"absent_means_true", "home = /x\n", true, nullptr},
                    CfgCase{"absent_to_false", "home = /x", false, "home = /x\ninclude-system-site-packages = false\n"},
                    CfgCase{"odd_value_means_false", "include-system-site-packages = yes\n", false, nullptr},
                    // The last line decides; the rewrite leaves one.
                    CfgCase{"last_line_wins",
                            "include-system-site-packages = false\nhome = /x\ninclude-system-site-packages = true\n",
                            false, "include-system-site-packages = false\nhome = /x\n"}),
  [](const ::testing::TestParamInfo<CfgCase>& case_info) { return std::string(case_info.param.label); });

std::string read(const std::filesystem::path& path)
{
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SystemSiteSetting, RewritesTheFileOnlyWhenItDiffers)
{
  const tolvo::testing::ScopedTempDir dir;
  const std::filesystem::path cfg = dir.write("pyvenv.cfg", MADE_WITH);
  const auto written = std::filesystem::last_write_time(cfg);
  match_system_site_packages(dir.path().string(), true);
  EXPECT_EQ(std::filesystem::last_write_time(cfg), written);
  match_system_site_packages(dir.path().string(), false);
  EXPECT_EQ(read(cfg), "home = /usr/bin\ninclude-system-site-packages = false\nversion = 3.11.2\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  // An environment without the file is no environment to change.
  std::filesystem::remove(cfg);
  match_system_site_packages(dir.path().string(), false);
  EXPECT_FALSE(std::filesystem::exists(cfg));
}

} // namespace
} // namespace tolvo::venv
