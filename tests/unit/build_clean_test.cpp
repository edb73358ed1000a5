#include "tolvo/build/clean.hpp"
#include "tolvo/build/sdist.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"

#include "support/scoped_temp_dir.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <stdlib.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tolvo::testing::ScopedTempDir;

// Every entry below `root`, links shown as "path@" and never entered,
// directories as "path/".
std::set<std::string> listing(const fs::path& root)
{
  std::set<std::string> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string path = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      entries.insert(path + "@");
    } else if (it->is_directory()) {
      entries.insert(path + "/");
    } else {
      entries.insert(path);
    }
  }
  return entries;
}

// "d:path" directory, "f:path" file, "l:path>target" link (target taken
// relative to the temporary directory when it starts with "@").
struct CleanCase
{
  std::string label;
  std::vector<std::string> layout;
  std::vector<std::string> removed;
  std::string error;
};

std::string repeated(std::string_view text, int times)
{
  std::string result;
  for (int i = 0; i < times; ++i) {
    result += text;
  }
  return result;
}

void build_layout(const fs::path& base, const fs::path& project, const std::vector<std::string>& layout)
{
  for (const std::string& item : layout) {
    const char kind = item[0];
    const std::string rest = item.substr(2);
    if (kind == 'd') {
      fs::create_directories(project / rest);
    } else if (kind == 'f') {
      fs::create_directories((project / rest).parent_path());
      std::ofstream(project / rest) << "x";
    } else {
      const std::string link = rest.substr(0, rest.find('>'));
      std::string target = rest.substr(rest.find('>') + 1);
      fs::create_directories((project / link).parent_path());
      const fs::path resolved = target[0] == '@' ? base / target.substr(1) : fs::path(target);
      fs::create_symlink(resolved, project / link);
    }
  }
}

class CleanTest : public ::testing::TestWithParam<CleanCase>
{};

TEST_P(CleanTest, RemovesExactlyTheArtefacts)
{
  const CleanCase& param = GetParam();
  ScopedTempDir temp;
  // Outside the project: must survive every clean.
  temp.write("outside/sentinel.txt", "keep");
  temp.write("outside/__pycache__/m.cpython-311.pyc", "keep");
  temp.write("outside/z.pyc", "keep");
  const fs::path project = temp.path() / "project";
  fs::create_directories(project);
  build_layout(temp.path(), project, param.layout);
  const std::set<std::string> before = listing(project);
  const std::set<std::string> outside_before = listing(temp.path() / "outside");
  fs::current_path(project);

  std::string message;
  ::testing::internal::CaptureStdout();
  try {
    tolvo::build::clean();
  } catch (const tolvo::SystemError& error) {
    message = error.what();
  }
  const std::string out = ::testing::internal::GetCapturedStdout();

  std::set<std::string> expected;
  for (const std::string& entry : before) {
    bool gone = false;
    for (const std::string& removed : param.removed) {
      gone = gone || entry == removed || entry == removed + "/" || entry == removed + "@" ||
             entry.rfind(removed + "/", 0) == 0;
    }
    if (!gone) {
      expected.insert(entry);
    }
  }
  EXPECT_EQ(listing(project), expected);
  EXPECT_EQ(listing(temp.path() / "outside"), outside_before);
  EXPECT_EQ(message, param.error);
  EXPECT_EQ(out,
            param.error.empty() ? "Cleaning build artifacts...\nClean complete\n" : "Cleaning build artifacts...\n");
}

INSTANTIATE_TEST_SUITE_P(
  Layouts, CleanTest,
  ::testing::Values(
    CleanCase{"empty", {}, {}, ""},
    CleanCase{"no_artefacts", {"f:pyproject.toml", "f:pkg/__init__.py", "d:.git/objects"}, {}, ""},
    CleanCase{"everything",
              {"f:build/lib/a.py",
               "f:dist/x-1.tar.gz",
               "f:.venv/bin/python",
               "f:wheelhouse/x.whl",
               "f:mypkg.egg-info/PKG-INFO",
               "d:other.egg-info",
               "f:a.build/t",
               "d:b.dist/c",
               "d:.cache.egg-info",
               "d:.x.build",
               "d:.y.dist",
               "d:src/x.egg-info",
               "d:src/a.build",
               "d:src/b.dist",
               "f:pkg/sub/__pycache__/m.pyc",
               "f:pkg/sub/mod.py",
               "d:__pycache__",
               "f:.git/__pycache__/y.pyc",
               "d:.hidden/deep/__pycache__/n",
               "f:pkg/legacy.pyc",
               "f:.git/objects/q.pyc",
               "f:keep.py",
               "f:pkg/pyc.txt",
               "f:pkg/x.PYC",
               "f:x.pycx",
               "f:.pyc",
               "d:Build",
               "d:DIST",
               "d:x.EGG-INFO",
               "d:pkg/__PYCACHE__",
               "d:pkg/__pycache__x"},
              {"build", "dist", ".venv", "wheelhouse", "mypkg.egg-info", "other.egg-info", "a.build", "b.dist",
               "pkg/sub/__pycache__", "__pycache__", ".git/__pycache__", ".hidden/deep/__pycache__", "pkg/legacy.pyc",
               ".git/objects/q.pyc", ".pyc"},
              ""},
    CleanCase{"dist_links_outside",
              {"d:build/x", "l:dist>@outside", "d:.venv/bin"},
              {"build"},
              "cannot remove 'dist': Not a directory"},
    CleanCase{"dist_is_a_file",
              {"d:build", "f:dist", "d:.venv", "d:wheelhouse", "f:pkg/__pycache__/a.pyc"},
              {"build"},
              "cannot remove 'dist': Not a directory"},
    CleanCase{"venv_links_outside", {"l:.venv>@outside", "d:wheelhouse"}, {}, "cannot remove '.venv': Not a directory"},
    CleanCase{"dangling_build_link", {"l:build>@nowhere", "d:dist"}, {}, "cannot remove 'build': Not a directory"},
    CleanCase{"egg_info_is_a_file",
              {"d:dist", "f:mypkg.egg-info", "d:x.build"},
              {"dist"},
              "cannot remove 'mypkg.egg-info': Not a directory"},
    CleanCase{"egg_info_links_outside",
              {"l:mypkg.egg-info>@outside", "d:x.build"},
              {},
              "cannot remove 'mypkg.egg-info': Not a directory"},
    CleanCase{"pycache_links_outside",
              {"d:build", "l:pkg/__pycache__>@outside", "f:pkg/a.pyc"},
              {"build"},
              "cannot remove 'pkg/__pycache__': Not a directory"},
    CleanCase{"linked_directory_not_followed",
              {"l:linked>@outside", "f:pkg/__pycache__/a.pyc", "f:b.pyc"},
              {"pkg/__pycache__", "b.pyc"},
              ""},
    CleanCase{
      "pycache_file_and_link_to_file_stay", {"f:pkg/__pycache__", "l:lib/__pycache__>@outside/sentinel.txt"}, {}, ""},
    CleanCase{
      "pyc_link_removed_target_kept", {"l:pkg/l.pyc>@outside/z.pyc", "f:pkg/m.pyc"}, {"pkg/l.pyc", "pkg/m.pyc"}, ""},
    CleanCase{"pyc_directory_fails",
              {"d:pkg/x.pyc/inner", "d:pkg/__pycache__"},
              {"pkg/__pycache__"},
              "cannot remove 'pkg/x.pyc': Is a directory"},
    CleanCase{"long_path_shortened_in_message",
              {"d:pkg/" + repeated("d/", 150) + "odd.pyc/inner"},
              {},
              "cannot remove 'pkg/" + repeated("d/", 47) + "..." + repeated("d/", 46) + "odd.pyc': Is a directory"}),
  [](const ::testing::TestParamInfo<CleanCase>& test_info) { return test_info.param.label; });

TEST(CleanTest, SecondCleanFindsNothing)
{
  ScopedTempDir temp;
  temp.write("dist/a.tar.gz", "x");
  temp.write("pkg/__pycache__/a.pyc", "x");
  ::testing::internal::CaptureStdout();
  tolvo::build::clean();
  tolvo::build::clean();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Cleaning build artifacts...\nClean complete\nCleaning build artifacts...\nClean complete\n");
  EXPECT_EQ(listing(temp.path()), (std::set<std::string>{"pkg/"}));
}

// Far deeper than a stack frame or a descriptor per level allows under the
// limits of clean_in_limited_child, and than any path can name.
constexpr int DEEP = 25000;

// Removing tens of thousands of directories takes a minute on a disk that
// discards freed blocks at once, a second on a RAM disk.
fs::path ram_disk_or_temp()
{
  std::error_code error;
  return fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                : fs::temp_directory_path();
}

// Opens `name` of `dir_fd`, making it first if `make`.
int open_level(int dir_fd, const char* name, bool make)
{
  if (make && ::mkdirat(dir_fd, name, 0777) != 0) {
    throw std::runtime_error(std::string("mkdirat: ") + std::strerror(errno));
  }
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    throw std::runtime_error(std::string("openat: ") + std::strerror(errno));
  }
  return fd;
}

// Goes (or builds, if `make`) `top`/d/d/.../d, `depth` levels below `top`,
// a step at a time, and returns a descriptor open on the bottom.
int chain_bottom(const char* top, int depth, bool make)
{
  int fd = open_level(AT_FDCWD, top, make);
  for (int i = 0; i < depth; ++i) {
    const int child = open_level(fd, "d", make);
    ::close(fd);
    fd = child;
  }
  return fd;
}

// Runs clean() in a child limited as `ulimit -s 1024 -n 64` would limit
// it, with its output discarded; the child's wait status, 0 when it cleaned.
int clean_in_limited_child()
{
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit stack{1024 * 1024, 1024 * 1024};
    const rlimit descriptors{64, 64};
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd < 0 || ::dup2(null_fd, STDOUT_FILENO) < 0 || ::setrlimit(RLIMIT_STACK, &stack) != 0 ||
        ::setrlimit(RLIMIT_NOFILE, &descriptors) != 0) {
      ::_exit(2);
    }
    try {
      tolvo::build::clean();
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(CleanTest, DeepTreeNeedsNoStackFrameOrDescriptorPerLevel)
{
  ScopedTempDir temp(ram_disk_or_temp());
  const int bottom = chain_bottom("pkg", DEEP, true);
  ::mkdirat(bottom, "__pycache__", 0777);
  for (const char* name : {"__pycache__/m.cpython-311.pyc", "old.pyc", "mod.py"}) {
    ::close(::openat(bottom, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  }
  ::close(bottom);

  // Both walks reach the bottom...
  EXPECT_EQ(clean_in_limited_child(), 0);
  const int walked = chain_bottom("pkg", DEEP, false);
  EXPECT_EQ(tolvo::platform::list_directory("/proc/self/fd/" + std::to_string(walked)),
            std::vector<std::string>{"mod.py"});
  ::close(walked);
  // ...and a tree removal as deep takes everything.
  fs::rename("pkg", "build");
  EXPECT_EQ(clean_in_limited_child(), 0);
  EXPECT_FALSE(fs::exists("build"));
}

TEST(BuildSdistTest, MissingEnvironmentFailsItsPreconditionAndCreatesNothing)
{
  ScopedTempDir temp;
  const tolvo::venv::VirtualEnvironment venv(".venv");
  ::testing::internal::CaptureStdout();
  try {
    tolvo::build::build_sdist(venv);
    FAIL() << "no error";
  } catch (const tolvo::PreconditionFailure& error) {
    EXPECT_STREQ(error.what(), "Error: Virtual environment not found. Run 'tolvo requirements' first.");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(fs::exists(temp.path() / "dist"));
}

} // namespace
