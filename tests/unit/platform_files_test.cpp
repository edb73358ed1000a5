#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"
#include "tolvo/platform/tree_walk.hpp"

#include "support/scoped_temp_dir.hpp"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using tolvo::testing::ScopedTempDir;

class NameMatchesTest : public ::testing::TestWithParam<std::tuple<const char*, const char*, bool>>
{};

TEST_P(NameMatchesTest, MatchesWholeNameWithCase)
{
  const auto& [pattern, name, expected] = GetParam();
  EXPECT_EQ(tolvo::platform::name_matches(pattern, name), expected) << pattern << " vs " << name;
}

INSTANTIATE_TEST_SUITE_P(
  Patterns, NameMatchesTest,
  ::testing::Values(std::make_tuple("*.pyc", "a.pyc", true), std::make_tuple("*.pyc", ".pyc", true),
                    std::make_tuple("*.pyc", "a.pyc.bak", false), std::make_tuple("*.pyc", "a.PYC", false),
                    std::make_tuple("*.pyc", "xpyc", false), std::make_tuple("*.egg-info", "my_pkg.egg-info", true),
                    std::make_tuple("*.egg-info", "egg-info", false), std::make_tuple("*.dist", "a.b.dist", true),
                    std::make_tuple("__pycache__", "__pycache__", true)));

TEST(ListDirectoryTest, ListsEveryNameOnceWithoutDots)
{
  ScopedTempDir temp;
  temp.write("a", "");
  temp.write(".hidden", "");
  temp.write("sub/inner", "");
  std::vector<std::string> names = tolvo::platform::list_directory(".");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "a", "sub"}));
}

TEST(WalkTest, ReportsLinksWithoutEnteringThem)
{
  ScopedTempDir temp;
  temp.write("real/deep/f", "");
  temp.write(".h/g", "");
  fs::create_directory_symlink(temp.path() / "real", temp.path() / "link");
  std::vector<std::string> seen;
  tolvo::platform::walk(
    ".",
    [&](const tolvo::platform::WalkEntry& entry) {
      seen.push_back(entry.path() + (entry.kind == tolvo::platform::EntryKind::symlink ? "@" : ""));
      return tolvo::platform::WalkAction::descend;
    },
    [](const std::string& path) { FAIL() << "no mount point here: " << path; });
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{".h", ".h/g", "link@", "real", "real/deep", "real/deep/f"}));
}

TEST(WalkTest, RefusesToClimbBackIntoADirectoryItDidNotLeave)
{
  ScopedTempDir temp;
  // Deep enough that the top levels are closed and reopened through "..".
  fs::path deep = "top";
  for (std::size_t i = 0; i < 2 * tolvo::platform::OPEN_LEVELS; ++i) {
    deep /= "d";
  }
  temp.write(deep / "marker", "");
  try {
    tolvo::platform::walk(
      "top",
      [&](const tolvo::platform::WalkEntry& entry) {
        // Moves away a directory below the first closed level: its ".." is
        // now the temporary directory.
        if (entry.name == "marker") {
          fs::rename(temp.path() / "top/d/d", temp.path() / "moved");
        }
        return tolvo::platform::WalkAction::descend;
      },
      [](const std::string& path) { FAIL() << "no mount point here: " << path; });
    FAIL() << "no error";
  } catch (const tolvo::SystemError& error) {
    EXPECT_STREQ(error.what(), "cannot open directory 'top/d/d': moved elsewhere meanwhile");
  }
}

TEST(ShownPathTest, KeepsStartAndEndOfLongPathsWholeCharactersOnly)
{
  using tolvo::platform::shown_path;
  const std::string at_limit(tolvo::platform::SHOWN_PATH_LIMIT, 'a');
  EXPECT_EQ(shown_path(at_limit), at_limit);
  EXPECT_EQ(shown_path(at_limit + "b"), std::string(98, 'a') + "..." + std::string(98, 'a') + "b");
  // Each cut would split an "é" (two bytes): it is left out whole.
  EXPECT_EQ(shown_path(std::string(97, 'a') + "é" + std::string(50, 'b') + "é" + std::string(98, 'c')),
            std::string(97, 'a') + "..." + std::string(98, 'c'));
}

TEST(RemoveTreeTest, MissingEntryReportsTheSystemError)
{
  ScopedTempDir temp;
  try {
    tolvo::platform::remove_tree_at(AT_FDCWD, "nothing", "nothing", [](const std::string&) {});
    FAIL() << "no error";
  } catch (const tolvo::SystemError& error) {
    EXPECT_STREQ(error.what(), "cannot remove 'nothing': No such file or directory");
    EXPECT_EQ(error.error_number(), ENOENT);
  }
}

TEST(MakeDirectoryTest, KeepsExistingAndRefusesFiles)
{
  ScopedTempDir temp;
  temp.write("dist/old.tar.gz", "old");
  tolvo::platform::make_directory("dist");
  EXPECT_TRUE(fs::exists(temp.path() / "dist/old.tar.gz"));
  temp.write("file", "");
  EXPECT_THROW(tolvo::platform::make_directory("file"), tolvo::SystemError);
}

} // namespace
