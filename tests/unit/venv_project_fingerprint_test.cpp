#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/venv/project_fingerprint.hpp"

#include "support/scoped_temp_dir.hpp"

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tolvo::venv {
namespace {

namespace fs = std::filesystem;
using tolvo::testing::ScopedTempDir;

std::int64_t now_ns()
{
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Walked a minute on: files written by the test count as settled.
std::optional<std::string> settled_fingerprint(const fs::path& project)
{
  return project_fingerprint(project.string(), now_ns() + 60'000'000'000);
}

// A library with a C extension, its build and environment directories
// beside the sources.
struct Project
{
  Project()
  {
    for (const auto& [path, text] : std::initializer_list<std::pair<const char*, const char*>>{
           {"pyproject.toml", "[project]\nname = \"app\"\n"},
           {"setup.py", "from setuptools import setup\nsetup()\n"},
           {"README.md", "# app\n"},
           {"src/app/__init__.py", ""},
           {"src/app/_speed.c", "int speed(void) { return 1; }\n"},
           {"src/app/_speed.h", "int speed(void);\n"},
           {"src/app/build/gen.c", "int gen;\n"},
           {"build/temp.linux/_speed.c", "int copy;\n"},
           {".venv/include/site/python3.11/x.h", "int x;\n"},
           {"env/pyvenv.cfg", "home = /usr\n"},
           {"tests/test_speed.py", "def test(): pass\n"},
         }) {
      temp.write(path, text);
    }
  }

  fs::path at(const char* relative) const { return temp.path() / relative; }

  ScopedTempDir temp;
};

struct ChangeCase
{
  std::string label;
  std::function<void(Project&)> change;
  bool seen;
};

void PrintTo(const ChangeCase& tested, std::ostream* out)
{
  *out << tested.label;
}

class FingerprintChange : public ::testing::TestWithParam<ChangeCase>
{};

TEST_P(FingerprintChange, SeesWhatNeedsARebuildOnly)
{
  Project project;
  const std::optional<std::string> before = settled_fingerprint(project.temp.path());
  ASSERT_TRUE(before);
  GetParam().change(project);
  const std::optional<std::string> after = settled_fingerprint(project.temp.path());
  ASSERT_TRUE(after);
  EXPECT_EQ(*before != *after, GetParam().seen);
}

INSTANTIATE_TEST_SUITE_P(
  Table, FingerprintChange,
  ::testing::Values(
    ChangeCase{"c_source_edited",
               [](Project& p) { p.temp.write("src/app/_speed.c", "int speed(void) { return 22; }\n"); }, true},
    ChangeCase{"edited_with_its_size_and_time_kept",
               [](Project& p) {
                 struct stat before
                 {};
                 ::stat(p.at("src/app/_speed.c").c_str(), &before);
                 p.temp.write("src/app/_speed.c", "int speed(void) { return 2; }\n");
                 const timespec times[2] = {before.st_atim, before.st_mtim};
                 ::utimensat(AT_FDCWD, p.at("src/app/_speed.c").c_str(), times, 0);
               },
               true},
    ChangeCase{"header_added", [](Project& p) { p.temp.write("src/app/_more.h", "int more;\n"); }, true},
    ChangeCase{"source_renamed", [](Project& p) { fs::rename(p.at("src/app/_speed.c"), p.at("src/app/_fast.c")); },
               true},
    ChangeCase{"cython_module_added", [](Project& p) { p.temp.write("src/app/_fast.PYX", "cdef int x\n"); }, true},
    ChangeCase{"cargo_lock_added", [](Project& p) { p.temp.write("rust/Cargo.lock", "version = 3\n"); }, true},
    ChangeCase{"pyproject_edited", [](Project& p) { p.temp.write("pyproject.toml", "[project]\nname = \"ap\"\n"); },
               true},
    ChangeCase{"build_directory_below_the_top_is_source",
               [](Project& p) { p.temp.write("src/app/build/gen.c", "int generated;\n"); }, true},
    ChangeCase{"c_source_under_build_ignored",
               [](Project& p) { p.temp.write("build/temp.linux/_speed.c", "int changed_copy;\n"); }, false},
    ChangeCase{"header_in_venv_ignored", [](Project& p) { p.temp.write(".venv/include/y.h", "int y;\n"); }, false},
    ChangeCase{"header_in_another_environment_ignored",
               [](Project& p) { p.temp.write("env/include/site/python3.11/y.h", "int y;\n"); }, false},
    ChangeCase{"python_module_edited_ignored", [](Project& p) { p.temp.write("src/app/__init__.py", "VALUE = 1\n"); },
               false},
    ChangeCase{"readme_edited_ignored", [](Project& p) { p.temp.write("README.md", "# app 2\n"); }, false},
    ChangeCase{"link_to_a_directory_inside_followed_where_it_leads",
               [](Project& p) { fs::create_directory_symlink("src/app", p.at("alias")); }, false}),
  [](const ::testing::TestParamInfo<ChangeCase>& tested) { return tested.param.label; });

TEST(Fingerprint, NoneWhereATimeStampCannotTellALaterChange)
{
  Project project;
  // Just written: a change within the same clock tick would leave the
  // time stamps as they are now.
  EXPECT_FALSE(project_fingerprint(project.temp.path().string()));
  ScopedTempDir elsewhere;
  elsewhere.write("vendor/lib.c", "int lib;\n");
  fs::create_directory_symlink(elsewhere.path() / "vendor", project.at("src/vendor"));
  // A link out of the project: what is edited there is not walked.
  EXPECT_FALSE(settled_fingerprint(project.temp.path()));
}

class FingerprintInterruption : public ::testing::Test
{
protected:
  void SetUp() override { platform::clear_interruption(); }
  void TearDown() override { platform::clear_interruption(); }

  platform::InterruptionHandlers m_handlers;
};

TEST_F(FingerprintInterruption, ASignalStopsTheWalk)
{
  Project project;
  ::raise(SIGTERM);
  EXPECT_THROW(settled_fingerprint(project.temp.path()), Interrupted);
}

TEST(BuildInput, NativeSourcesAndBuildScriptsByName)
{
  for (const char* name : {"x.c", "x.H", "x.cpp", "x.cxx", "x.hpp", "x.pyx", "x.pxd", "lib.rs", "m.f90", "k.cu",
                           "CMakeLists.txt", "meson.build", "Cargo.toml", "setup.cfg", "MANIFEST.in", "x.cmake"}) {
    EXPECT_TRUE(is_build_input(name)) << name;
  }
  for (const char* name : {"x.py", "README.md", "c", ".c", "x.", "x.json", "x.cfg", "cmakelists.txt", "x.pyc"}) {
    EXPECT_FALSE(is_build_input(name)) << name;
  }
}

} // namespace
} // namespace tolvo::venv
