#include "tolvo/errors.hpp"
#include "tolvo/wheel/wheel_choice.hpp"
#include "tolvo/wheel/wheel_search.hpp"

#include "support/scoped_temp_dir.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace tolvo::wheel;
using tolvo::testing::ScopedTempDir;

// ---- the choice among several wheels of one directory -------------------------

const std::optional<WheelOwner> MYPKG_1_1 = WheelOwner{"mypkg", "1.1"};
const std::optional<WheelOwner> MYPKG_DYNAMIC = WheelOwner{"mypkg", std::nullopt};

struct ChoiceCase
{
  const char* name;
  std::vector<std::string> wheels;
  const char* arch;
  const char* libc;
  std::optional<WheelOwner> owner;
  // The wheel taken, or empty when the choice is refused with `why`, the
  // wheels named in the message being `listed`.
  std::string chosen;
  std::string why;
  std::vector<std::string> listed;
};

void PrintTo(const ChoiceCase& c, std::ostream* os)
{
  *os << c.name;
}

class WheelChoice : public testing::TestWithParam<ChoiceCase>
{};

TEST_P(WheelChoice, TakesTheProjectsCurrentWheelOrRefusesListingTheCandidates)
{
  const ChoiceCase& c = GetParam();
  try {
    const std::string chosen = choose_wheel(WheelCandidates{"dist", c.wheels}, c.arch, c.libc, c.owner);
    EXPECT_EQ(chosen, c.chosen.empty() ? "refused" : "dist/" + c.chosen);
  } catch (const tolvo::NotFoundError& error) {
    std::string expected = c.why + ":\n";
    for (const std::string& wheel : c.listed) {
      expected += "  dist/" + wheel + "\n";
    }
    expected += "Remove the stale wheels and run again.";
    EXPECT_EQ(error.what(), c.chosen.empty() ? expected : "chosen: " + c.chosen);
  }
}

const std::string PURE_1_0 = "mypkg-1.0-py3-none-any.whl";
const std::string PURE_1_1 = "mypkg-1.1-py3-none-any.whl";
const std::string X86_1_1 = "mypkg-1.1-cp311-cp311-manylinux_2_34_x86_64.whl";
const std::string ARM_1_1 = "mypkg-1.1-cp311-cp311-manylinux_2_34_aarch64.whl";
const std::string MUSL_X86_1_1 = "mypkg-1.1-cp311-cp311-musllinux_1_2_x86_64.whl";
const std::string NONE_IS_1_1 = "none of the wheels in dist/ is a wheel of mypkg 1.1";
const std::string TIE_X86 =
  "several wheels in dist/ are mypkg 1.1 for x86_64 (glibc), and tolvo cannot tell which one to test";

INSTANTIATE_TEST_SUITE_P(
  Cases, WheelChoice,
  testing::Values(
    // A lone wheel is taken as it is, even without a project to judge it by.
    ChoiceCase{"lone_stale", {PURE_1_0}, "x86_64", "glibc", MYPKG_1_1, PURE_1_0, "", {}},
    ChoiceCase{"lone_without_project", {PURE_1_0}, "x86_64", "glibc", std::nullopt, PURE_1_0, "", {}},
    ChoiceCase{"stale_beside_current", {PURE_1_1, PURE_1_0}, "x86_64", "glibc", MYPKG_1_1, PURE_1_1, "", {}},
    // The arch pattern must not bring a stale native wheel back.
    ChoiceCase{"stale_native_current_pure",
               {"mypkg-1.0-cp311-cp311-manylinux_2_34_x86_64.whl", PURE_1_1},
               "x86_64",
               "glibc",
               MYPKG_1_1,
               PURE_1_1,
               "",
               {}},
    // Versions compare as PEP 440 versions; names and versions as the
    // wheel file name escapes them.
    ChoiceCase{
      "trailing_zero", {PURE_1_0, PURE_1_1}, "x86_64", "glibc", WheelOwner{"mypkg", "1.1.0"}, PURE_1_1, "", {}},
    ChoiceCase{"escaped_name_and_post_release",
               {"my_pkg-2.0-py3-none-any.whl", "my_pkg-2.0_1-py3-none-any.whl"},
               "x86_64",
               "glibc",
               WheelOwner{"My.Pkg", "2.0.post1"},
               "my_pkg-2.0_1-py3-none-any.whl",
               "",
               {}},
    ChoiceCase{"local_version_counts",
               {"mypkg-1.1+cpu-py3-none-any.whl", PURE_1_1},
               "x86_64",
               "glibc",
               WheelOwner{"mypkg", "1.1+cpu"},
               "mypkg-1.1+cpu-py3-none-any.whl",
               "",
               {}},
    ChoiceCase{
      "another_projects_wheel", {"dep-1.1-py3-none-any.whl", PURE_1_1}, "x86_64", "glibc", MYPKG_1_1, PURE_1_1, "", {}},
    ChoiceCase{"none_current",
               {PURE_1_0, "mypkg-0.9-py3-none-any.whl", "dep-1.1-py3-none-any.whl", "notes-x.whl"},
               "x86_64",
               "glibc",
               MYPKG_1_1,
               "",
               NONE_IS_1_1,
               {"dep-1.1-py3-none-any.whl", "mypkg-0.9-py3-none-any.whl", PURE_1_0, "notes-x.whl"}},
    ChoiceCase{"invalid_project_version",
               {PURE_1_0, PURE_1_1},
               "x86_64",
               "glibc",
               WheelOwner{"mypkg", "one"},
               "",
               "none of the wheels in dist/ is a wheel of mypkg one",
               std::vector<std::string>{PURE_1_0, PURE_1_1}},
    // Several of the current version: the arch pattern, then the C library
    // decide; what still ties is refused.
    ChoiceCase{"native_before_pure", {PURE_1_1, X86_1_1}, "x86_64", "glibc", MYPKG_1_1, X86_1_1, "", {}},
    ChoiceCase{"pure_and_native_of_another_arch",
               {PURE_1_1, ARM_1_1},
               "x86_64",
               "glibc",
               MYPKG_1_1,
               "",
               TIE_X86,
               std::vector<std::string>{ARM_1_1, PURE_1_1}},
    ChoiceCase{"glibc_of_two_libcs", {MUSL_X86_1_1, X86_1_1}, "x86_64", "glibc", MYPKG_1_1, X86_1_1, "", {}},
    ChoiceCase{"musl_of_two_libcs",
               {"mypkg-1.1-cp311-cp311-manylinux_2_17_x86_64.manylinux2014_x86_64.whl", MUSL_X86_1_1},
               "x86_64",
               "musl",
               MYPKG_1_1,
               MUSL_X86_1_1,
               "",
               {}},
    ChoiceCase{"two_build_tags",
               {"mypkg-1.1-2-py3-none-any.whl", "mypkg-1.1-1-py3-none-any.whl", PURE_1_0},
               "x86_64",
               "glibc",
               MYPKG_1_1,
               "",
               TIE_X86,
               {"mypkg-1.1-1-py3-none-any.whl", "mypkg-1.1-2-py3-none-any.whl"}},
    // A dynamic version is known only to a build: the project's wheels
    // there must agree on one.
    ChoiceCase{"dynamic_agreeing",
               {ARM_1_1, X86_1_1, "dep-2.0-py3-none-any.whl"},
               "x86_64",
               "glibc",
               MYPKG_DYNAMIC,
               X86_1_1,
               "",
               {}},
    ChoiceCase{"dynamic_disagreeing",
               {PURE_1_1, PURE_1_0},
               "x86_64",
               "glibc",
               MYPKG_DYNAMIC,
               "",
               "the version of mypkg is dynamic and the wheels in dist/ are of several versions, so tolvo cannot "
               "tell which one is current",
               {PURE_1_0, PURE_1_1}},
    ChoiceCase{"dynamic_none_of_the_project",
               {"a-1.0-py3-none-any.whl", "b-1.0-py3-none-any.whl"},
               "x86_64",
               "glibc",
               MYPKG_DYNAMIC,
               "",
               "none of the wheels in dist/ is a wheel of mypkg",
               std::vector<std::string>{"a-1.0-py3-none-any.whl", "b-1.0-py3-none-any.whl"}},
    ChoiceCase{"several_without_project",
               {PURE_1_1, PURE_1_0},
               "x86_64",
               "glibc",
               std::nullopt,
               "",
               "several wheels in dist/ and no pyproject.toml to tell which one is the project's",
               std::vector<std::string>{PURE_1_0, PURE_1_1}}),
  [](const testing::TestParamInfo<ChoiceCase>& param_info) { return std::string(param_info.param.name); });

// ---- the search in the project -------------------------------------------------

class WheelSearch : public testing::Test
{
protected:
  void touch(const std::string& relative) { m_dir.write(relative, "x"); }
  ScopedTempDir m_dir;
};

TEST_F(WheelSearch, NothingAnywhere)
{
  EXPECT_EQ(find_wheel("x86_64", "glibc"), std::nullopt);
  touch("dist/readme.txt");
  touch("wheelhouse/.hidden.whl");
  // Letter case counts in the pattern.
  touch("wheelhouse/X.WHL");
  EXPECT_EQ(find_wheel("x86_64", "glibc"), std::nullopt);
}

TEST_F(WheelSearch, WheelhouseBeforeDistEvenForOtherArch)
{
  touch("wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl");
  touch("dist/mypkg-1.0-cp311-cp311-manylinux_2_34_x86_64.whl");
  EXPECT_EQ(find_wheel("x86_64", "glibc"), "wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl");
}

TEST_F(WheelSearch, EmptyWheelhousePassesOn)
{
  touch("wheelhouse/readme.txt");
  touch("dist/mypkg-1.0-py3-none-any.whl");
  EXPECT_EQ(find_wheel("x86_64", "glibc"), "dist/mypkg-1.0-py3-none-any.whl");
}

TEST_F(WheelSearch, SeveralAreJudgedByThePyprojectAbove)
{
  m_dir.write("pyproject.toml", "[project]\nname = \"mypkg\"\nversion = \"1.1\"\n");
  touch("sub/dist/mypkg-1.0-cp311-cp311-musllinux_1_2_s390x.whl");
  touch("sub/dist/mypkg-1.1-py3-none-any.whl");
  std::filesystem::current_path("sub");
  EXPECT_EQ(find_wheel("s390x", "musl"), "dist/mypkg-1.1-py3-none-any.whl");
}

TEST_F(WheelSearch, DynamicVersionIsReadAsDynamic)
{
  m_dir.write("pyproject.toml", "[project]\nname = \"mypkg\"\ndynamic = [\"version\"]\n");
  EXPECT_EQ(read_wheel_owner()->version, std::nullopt);
  touch("dist/mypkg-1.0-py3-none-any.whl");
  touch("dist/mypkg-1.1-py3-none-any.whl");
  EXPECT_THROW(find_wheel("x86_64", "glibc"), tolvo::NotFoundError);
}

} // namespace
