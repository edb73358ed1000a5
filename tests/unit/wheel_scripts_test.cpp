#include "tolvo/errors.hpp"
#include "tolvo/wheel/engine.hpp"
#include "tolvo/wheel/engine_args.hpp"
#include "tolvo/wheel/scripts.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace tolvo::wheel;

// ---- build script ----------------------------------------------------------

// What the build leaves is handed over after the repaired wheels are moved
// in, and only where it exists.
const std::string OWNERSHIP = "for entry in dist/ *.egg-info/ build/ target/; do if [ -e \"$entry\" ]; then chown -R "
                              "\"$owner\" \"$entry\"; fi; done\n";

struct BuildCase
{
  bool native;
  const char* arch;
  const char* tag;
  std::optional<std::string> setup;
  std::string expected;
};

void PrintTo(const BuildCase& c, std::ostream* os)
{
  *os << (c.native ? "native " : "pure ") << c.arch;
}

class BuildScript : public testing::TestWithParam<BuildCase>
{};

TEST_P(BuildScript, ExactText)
{
  const BuildCase& c = GetParam();
  EXPECT_EQ(compose_build_script(c.native, c.arch, c.tag, c.setup), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, BuildScript,
  testing::Values(
    BuildCase{false, "x86_64", "cp311-cp311", std::nullopt,
              std::string(
                "\nset -e\nmanylinux-interpreters ensure \"cp311-cp311\"\nPATH=\"/opt/python/cp311-cp311/bin:$PATH\"\n"
                "cd /src\n\nrm -rf build/\npython -m pip install --upgrade build\n"
                "python -m build --wheel --config-setting=build_with_nuitka=false\n\n"
                "owner=$(stat -c '%u:%g' .)\n\n\n") +
                OWNERSHIP + "rm -rf wheelhouse/\n"},
    BuildCase{true, "aarch64", "cp311-cp311", std::string(),
              std::string(
                "\nset -e\nmanylinux-interpreters ensure \"cp311-cp311\"\nPATH=\"/opt/python/cp311-cp311/bin:$PATH\"\n"
                "cd /src\n\nrm -rf build/\npython -m pip install --upgrade build\npython -m build --wheel \n"
                "auditwheel repair dist/*_aarch64.whl\nowner=$(stat -c '%u:%g' .)\n"
                "rm -f dist/*_aarch64.whl\nmv wheelhouse/* dist/\n") +
                OWNERSHIP + "rm -rf wheelhouse/\n"},
    BuildCase{true, "riscv64", "cp312-cp312", std::string("apt-get install -y libfoo-dev"),
              std::string(
                "\nset -e\nmanylinux-interpreters ensure \"cp312-cp312\"\nPATH=\"/opt/python/cp312-cp312/bin:$PATH\"\n"
                "cd /src\napt-get install -y libfoo-dev\nrm -rf build/\npython -m pip install --upgrade build\n"
                "python -m build --wheel \nauditwheel repair dist/*_riscv64.whl\nowner=$(stat -c '%u:%g' .)\n"
                "rm -f dist/*_riscv64.whl\nmv wheelhouse/* dist/\n") +
                OWNERSHIP + "rm -rf wheelhouse/\n"},
    BuildCase{false, "armv7l", "cp313t-cp313t", std::string("yum install -y a\necho \"two\""),
              std::string("\nset -e\nmanylinux-interpreters ensure \"cp313t-cp313t\"\n"
                          "PATH=\"/opt/python/cp313t-cp313t/bin:$PATH\"\ncd /src\nyum install -y a\necho \"two\"\n"
                          "rm -rf build/\npython -m pip install --upgrade build\n"
                          "python -m build --wheel --config-setting=build_with_nuitka=false\n\n"
                          "owner=$(stat -c '%u:%g' .)\n\n\n") +
                OWNERSHIP + "rm -rf wheelhouse/\n"}));

TEST(BuildScript, ArchitectureRowsNameTheirWheels)
{
  for (const std::string arch : {"x86_64", "aarch64", "i686", "armv7l", "ppc64le", "s390x", "riscv64"}) {
    const std::string script = compose_build_script(true, arch, "cp311-cp311", std::nullopt);
    EXPECT_NE(script.find("\nauditwheel repair dist/*_" + arch + ".whl\n"), std::string::npos) << arch;
    EXPECT_NE(script.find("\nrm -f dist/*_" + arch + ".whl\n"), std::string::npos) << arch;
    const std::string pure = compose_build_script(false, arch, "cp311-cp311", std::nullopt);
    EXPECT_EQ(pure.find("auditwheel"), std::string::npos) << arch;
    EXPECT_EQ(pure.find(arch), std::string::npos) << arch;
  }
}

TEST(BuildFlags, PureOnly)
{
  EXPECT_TRUE(build_flags(true).empty());
  EXPECT_EQ(build_flags(false), std::vector<std::string>{"--config-setting=build_with_nuitka=false"});
}

// ---- test script -----------------------------------------------------------

constexpr const char* TEST_TAIL = "pip install --root-user-action=ignore \"dist/mypkg-1.0-py3-none-any.whl\"[test]\n"
                                  "git config --global user.email 'test@example.invalid'\n"
                                  "git config --global user.name \"Test Runner\"\n"
                                  "git config --global init.defaultBranch trunk\n"
                                  "mkdir -p /tmp/test\ncd /tmp/test;\ncp -r /src/tests .\n"
                                  "python -m pytest -vv tests\n";

constexpr const char* MUSL_RUST = "apk add --no-cache gcc musl-dev python3-dev libffi-dev openssl-dev cargo pkgconfig;";
constexpr const char* GLIBC_RUST = "apt-get update;DEBIAN_FRONTEND=\"noninteractive\" apt-get install -y rustc cargo;";
constexpr const char* GIT = "apk add --no-cache git;";

struct TestCase
{
  const char* arch;
  const char* libc;
  const char* line1;
};

class TestScript : public testing::TestWithParam<TestCase>
{};

TEST_P(TestScript, LineOnePrefixes)
{
  const TestCase& c = GetParam();
  const std::string expected = std::string(c.line1) + "\nset -e\ncd /src\n\n" + TEST_TAIL;
  EXPECT_EQ(compose_platform_test_script("dist/mypkg-1.0-py3-none-any.whl", c.arch, c.libc, std::nullopt), expected);
}

const std::string MUSL_BOTH = std::string(MUSL_RUST) + GIT;

INSTANTIATE_TEST_SUITE_P(
  Cases, TestScript,
  testing::Values(TestCase{"x86_64", "glibc", ""}, TestCase{"x86_64", "musl", GIT}, TestCase{"aarch64", "glibc", ""},
                  TestCase{"aarch64", "musl", GIT}, TestCase{"i686", "glibc", GLIBC_RUST},
                  TestCase{"i686", "musl", MUSL_BOTH.c_str()}, TestCase{"s390x", "glibc", GLIBC_RUST},
                  TestCase{"s390x", "musl", MUSL_BOTH.c_str()}, TestCase{"riscv64", "glibc", GLIBC_RUST},
                  TestCase{"riscv64", "musl", MUSL_BOTH.c_str()}, TestCase{"ppc64le", "glibc", ""},
                  TestCase{"ppc64le", "musl", MUSL_BOTH.c_str()}, TestCase{"armv7l", "glibc", ""},
                  TestCase{"armv7l", "musl", MUSL_BOTH.c_str()}, TestCase{"x86_64", "other", ""}));

TEST(TestScript, UnknownLibcWhereRustIsNeeded)
{
  EXPECT_THROW(compose_platform_test_script("w.whl", "s390x", "uclibc", std::nullopt), tolvo::Unsupported);
}

TEST(TestScript, SetupLinesGoBeforeInstall)
{
  EXPECT_EQ(compose_test_script("dist/mypkg-1.0-py3-none-any.whl", std::string("apt-get update\napt-get install -y x")),
            std::string("\nset -e\ncd /src\napt-get update\napt-get install -y x\n") + TEST_TAIL);
  EXPECT_EQ(compose_test_script("dist/mypkg-1.0-py3-none-any.whl", std::string()),
            std::string("\nset -e\ncd /src\n\n") + TEST_TAIL);
}

struct EscapeCase
{
  const char* path;
  const char* quoted;
};

// Without it gtest prints the case's raw bytes, pointers included, and the
// test names change from build to build.
void PrintTo(const EscapeCase& c, std::ostream* os)
{
  *os << c.path;
}

class WheelPathEscape : public testing::TestWithParam<EscapeCase>
{};

TEST_P(WheelPathEscape, InsideDoubleQuotes)
{
  const std::string script = compose_test_script(GetParam().path, std::nullopt);
  EXPECT_NE(script.find(std::string("\npip install --root-user-action=ignore \"") + GetParam().quoted + "\"[test]\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, WheelPathEscape,
  testing::Values(EscapeCase{"dist/a b.whl", "dist/a b.whl"}, EscapeCase{"dist/a\"b.whl", "dist/a\\\"b.whl"},
                  EscapeCase{"dist/$(id).whl", "dist/\\$(id).whl"}, EscapeCase{"dist/`id`.whl", "dist/\\`id\\`.whl"},
                  EscapeCase{"dist/a\\b.whl", "dist/a\\\\b.whl"}, EscapeCase{"dist/it's.whl", "dist/it's.whl"}));

TEST(TestScript, SelectionEndsThePytestLine)
{
  const TestSelection selection{"tests/unit/test_a.py::test_b[1-2]", {"-k", "a and not b", "-x"}};
  EXPECT_TRUE(compose_test_script("dist/mypkg-1.0-py3-none-any.whl", std::nullopt, selection)
                .ends_with("\ncp -r /src/tests .\n"
                           "python -m pytest -vv 'tests/unit/test_a.py::test_b[1-2]' -k 'a and not b' -x\n"));
}

// ---- engine argument lists ---------------------------------------------------

TEST(EngineArgs, ExactLists)
{
  EXPECT_EQ(emulation_registration_args(), (std::vector<std::string>{"docker", "run", "--privileged", "--rm",
                                                                     "tonistiigi/binfmt", "--install", "all"}));
  EXPECT_EQ(build_run_args("/p:/src", "quay.io/pypa/manylinux_2_34_x86_64:latest", "S"),
            (std::vector<std::string>{"docker", "run", "--rm", "-v", "/p:/src",
                                      "quay.io/pypa/manylinux_2_34_x86_64:latest", "/bin/bash", "-ec", "S"}));
  EXPECT_EQ(test_run_args("/p:/src", "linux/arm/v7", "python:3.11", "S"),
            (std::vector<std::string>{"docker", "run", "--rm", "--volume", "/p:/src", "--platform=linux/arm/v7",
                                      "python:3.11", "/bin/sh", "-ec", "S"}));
  EXPECT_EQ(build_image_reference("musllinux_1_2_aarch64"), "quay.io/pypa/musllinux_1_2_aarch64:latest");
  EXPECT_EQ(volume_mount(), fs::current_path().string() + ":/src");
}

// ---- tests that need a directory -------------------------------------------

class ScopedTempDir : public testing::Test
{
protected:
  void SetUp() override
  {
    m_previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "tolvo-wheel-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    fs::current_path(m_dir);
  }
  void TearDown() override
  {
    fs::current_path(m_previous);
    fs::remove_all(m_dir);
  }
  fs::path m_previous;
  fs::path m_dir;
};

// ---- the scripts are valid shell ---------------------------------------------

using ShellSyntax = ScopedTempDir;

// Starts a shell: these tests are about the scripts as processes read them.
TEST_F(ShellSyntax, EveryComposedScriptParses)
{
  int count = 0;
  for (const std::string arch : {"x86_64", "aarch64", "i686", "armv7l", "ppc64le", "s390x", "riscv64"}) {
    for (const std::string libc : {"glibc", "musl"}) {
      for (const bool native : {false, true}) {
        for (const auto& setup : {std::optional<std::string>{}, std::optional<std::string>{"echo a\necho b"}}) {
          const fs::path build = "build" + std::to_string(count) + ".sh";
          std::ofstream(build) << compose_build_script(native, arch, "cp311-cp311", setup);
          EXPECT_EQ(std::system(("bash -n " + build.string()).c_str()), 0) << arch << libc << native;
          const fs::path test = "test" + std::to_string(count) + ".sh";
          std::ofstream(test) << compose_platform_test_script("dist/a \"$`\\.whl", arch, libc, setup);
          EXPECT_EQ(std::system(("sh -n " + test.string()).c_str()), 0) << arch << libc;
          ++count;
        }
      }
    }
  }
}

} // namespace

namespace {

void write_program(const fs::path& path, const std::string& text)
{
  std::ofstream(path) << "#!/bin/sh\n" << text;
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                          fs::perms::others_exec);
}

std::set<std::string> names_in(const fs::path& directory)
{
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

struct ScriptRunCase
{
  const char* name;
  bool native;
  const char* arch;
  // What the stand-in back end leaves beside dist/: setuptools leaves
  // build/ and an egg-info; hatchling, flit-core and others nothing.
  const char* leftovers;
  const char* wheel;
};

void PrintTo(const ScriptRunCase& c, std::ostream* os)
{
  *os << c.name;
}

// The owner the project directory is given when the test runs as root, so
// that the ownership step has something to change.
constexpr uid_t PROJECT_OWNER = 65534;

class BuildScriptRun : public ScopedTempDir, public testing::WithParamInterface<ScriptRunCase>
{
protected:
  // Runs the real script under bash with stand-ins for the image's tools,
  // the project directory taking the place of the mount point.
  int run_build_script(const fs::path& project)
  {
    const ScriptRunCase& c = GetParam();
    const fs::path bin = m_dir / "bin";
    fs::create_directories(bin);
    const std::string arch = c.arch;
    write_program(bin / "manylinux-interpreters", "test \"$1 $2\" = \"ensure cp311-cp311\"\n");
    write_program(bin / "python",
                  "case \"$*\" in\n"
                  "  '-m pip install --upgrade build') exit 0 ;;\n"
                  "  '-m build --wheel') mkdir -p dist $LEFTOVERS;"
                  " : > dist/mypkg-1.0-cp311-cp311-linux_" +
                    arch +
                    ".whl ;;\n"
                    "  '-m build --wheel --config-setting=build_with_nuitka=false') mkdir -p dist $LEFTOVERS;"
                    " : > dist/mypkg-1.0-py3-none-any.whl ;;\n"
                    "  *) exit 9 ;;\n"
                    "esac\n");
    write_program(bin / "auditwheel", "test \"$1\" = repair || exit 8\n"
                                      "test -f \"$2\" || exit 7\n"
                                      "mkdir -p wheelhouse; : > wheelhouse/mypkg-1.0-cp311-cp311-manylinux_2_34_" +
                                        arch + ".whl\n");
    fs::create_directories(project / "build" / "stale");
    std::string script = compose_build_script(c.native, arch, "cp311-cp311", std::nullopt);
    const std::string mount_line = "\ncd /src\n";
    const auto at = script.find(mount_line);
    if (at == std::string::npos) {
      return -1;
    }
    script.replace(at, mount_line.size(), "\ncd '" + project.string() + "'\n");
    std::ofstream(m_dir / "script.sh") << script;
    const std::string command = "LEFTOVERS='" + std::string(c.leftovers) + "' PATH='" + bin.string() +
                                "':\"$PATH\" bash -e '" + (m_dir / "script.sh").string() + "'";
    return std::system(command.c_str());
  }
};

TEST_P(BuildScriptRun, LeavesOnlyTheFinalWheelOwnedByTheProjectOwner)
{
  const fs::path project = m_dir / "project";
  fs::create_directories(project);
  const bool as_root = geteuid() == 0;
  if (as_root) {
    ASSERT_EQ(chown(project.c_str(), PROJECT_OWNER, PROJECT_OWNER), 0);
  }
  ASSERT_EQ(run_build_script(project), 0);
  EXPECT_EQ(names_in(project / "dist"), std::set<std::string>{GetParam().wheel});
  EXPECT_FALSE(fs::exists(project / "wheelhouse"));
  EXPECT_FALSE(fs::exists(project / "build" / "stale"));
  if (!as_root) {
    return;
  }
  for (const auto& entry : fs::recursive_directory_iterator(project)) {
    struct stat info
    {};
    ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, PROJECT_OWNER) << entry.path();
    EXPECT_EQ(info.st_gid, PROJECT_OWNER) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(
  Cases, BuildScriptRun,
  testing::Values(
    ScriptRunCase{"native_setuptools", true, "aarch64", "build mypkg.egg-info",
                  "mypkg-1.0-cp311-cp311-manylinux_2_34_aarch64.whl"},
    ScriptRunCase{"native_no_leftovers", true, "x86_64", "", "mypkg-1.0-cp311-cp311-manylinux_2_34_x86_64.whl"},
    ScriptRunCase{"pure_setuptools", false, "x86_64", "build mypkg.egg-info", "mypkg-1.0-py3-none-any.whl"},
    ScriptRunCase{"pure_no_leftovers", false, "x86_64", "", "mypkg-1.0-py3-none-any.whl"}),
  [](const testing::TestParamInfo<ScriptRunCase>& param_info) { return std::string(param_info.param.name); });

// Runs the script's pytest line under sh, with a stand-in python that
// records the arguments it gets.
using PytestLine = ScopedTempDir;

TEST_F(PytestLine, GetsEveryByteOfTheSelection)
{
  std::string every_byte;
  for (int c = 1; c < 256; ++c) {
    every_byte.push_back(static_cast<char>(c));
  }
  const TestSelection selection{"tests/a b.py::t['x']",
                                {"-k", "a and not b", "it's", "$(touch PWNED)`touch PWNED`", "", "\"\\\n", every_byte}};
  const std::string script = compose_test_script("w.whl", std::nullopt, selection);
  const std::string copy_line = "\ncp -r /src/tests .\n";
  const auto at = script.find(copy_line);
  ASSERT_NE(at, std::string::npos);
  std::ofstream("pytest-line.sh") << script.substr(at + copy_line.size());
  fs::create_directories("bin");
  write_program(m_dir / "bin" / "python", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > args.bin\n");
  ASSERT_EQ(std::system(("PATH='" + (m_dir / "bin").string() + "':\"$PATH\" sh pytest-line.sh").c_str()), 0);

  std::vector<std::string> expected{"-m", "pytest", "-vv", selection.path};
  expected.insert(expected.end(), selection.args.begin(), selection.args.end());
  std::ifstream recorded("args.bin", std::ios::binary);
  std::vector<std::string> got;
  for (std::string arg; std::getline(recorded, arg, '\0');) {
    got.push_back(arg);
  }
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(fs::exists("PWNED"));
}

} // namespace
