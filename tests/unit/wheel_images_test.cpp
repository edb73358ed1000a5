#include "tolvo/errors.hpp"
#include "tolvo/wheel/host_arch.hpp"
#include "tolvo/wheel/images.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace tolvo::wheel;

struct TagCase
{
  const char* version;
  const char* tag;
};

class InterpreterTag : public testing::TestWithParam<TagCase>
{};

TEST_P(InterpreterTag, RemovesEveryDot)
{
  EXPECT_EQ(get_python_interpreter(GetParam().version), GetParam().tag);
}

INSTANTIATE_TEST_SUITE_P(Cases, InterpreterTag,
                         testing::Values(TagCase{"3.11", "cp311-cp311"}, TagCase{"3.9", "cp39-cp39"},
                                         TagCase{"3.12", "cp312-cp312"}, TagCase{"3.13t", "cp313t-cp313t"},
                                         TagCase{"3.1.2", "cp312-cp312"}, TagCase{"311", "cp311-cp311"},
                                         TagCase{"", "cp-cp"}));

struct ImageCase
{
  const char* arch;
  const char* libc;
  const char* image;
};

class BuildImage : public testing::TestWithParam<ImageCase>
{};

TEST_P(BuildImage, FirstMatchingRowWins)
{
  EXPECT_EQ(get_manylinux_image(GetParam().arch, GetParam().libc), GetParam().image);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, BuildImage,
  testing::Values(
    ImageCase{"x86_64", "glibc", "manylinux_2_34_x86_64"}, ImageCase{"aarch64", "glibc", "manylinux_2_34_aarch64"},
    ImageCase{"i686", "glibc", "manylinux_2_34_i686"}, ImageCase{"ppc64le", "glibc", "manylinux_2_34_ppc64le"},
    ImageCase{"s390x", "glibc", "manylinux_2_34_s390x"}, ImageCase{"armv7l", "glibc", "manylinux_2_35_armv7l"},
    ImageCase{"riscv64", "glibc", "manylinux_2_39_riscv64"}, ImageCase{"x86_64", "musl", "musllinux_1_2_x86_64"},
    ImageCase{"aarch64", "musl", "musllinux_1_2_aarch64"}, ImageCase{"armv7l", "musl", "musllinux_1_2_armv7l"},
    ImageCase{"riscv64", "musl", "musllinux_1_2_riscv64"}, ImageCase{"x86_64", "Musl", "manylinux_2_34_x86_64"},
    ImageCase{"x86_64", "", "manylinux_2_34_x86_64"}, ImageCase{"ARMV7L", "glibc", "manylinux_2_34_ARMV7L"},
    ImageCase{"sparc", "glibc", "manylinux_2_34_sparc"}));

struct PlatformCase
{
  const char* arch;
  const char* libc;
  const char* platform;
  bool rust;
};

class TestPlatform : public testing::TestWithParam<PlatformCase>
{};

TEST_P(TestPlatform, PlatformAndRustNeed)
{
  EXPECT_EQ(test_platform(GetParam().arch), GetParam().platform);
  EXPECT_EQ(test_needs_rust(GetParam().arch, GetParam().libc), GetParam().rust);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, TestPlatform,
  testing::Values(
    PlatformCase{"i686", "glibc", "linux/386", true}, PlatformCase{"i686", "musl", "linux/386", true},
    PlatformCase{"s390x", "glibc", "linux/s390x", true}, PlatformCase{"s390x", "musl", "linux/s390x", true},
    PlatformCase{"riscv64", "glibc", "linux/riscv64", true}, PlatformCase{"riscv64", "musl", "linux/riscv64", true},
    PlatformCase{"ppc64le", "glibc", "linux/ppc64le", false}, PlatformCase{"ppc64le", "musl", "linux/ppc64le", true},
    PlatformCase{"armv7l", "glibc", "linux/arm/v7", false}, PlatformCase{"armv7l", "musl", "linux/arm/v7", true},
    PlatformCase{"x86_64", "glibc", "linux/x86_64", false}, PlatformCase{"x86_64", "musl", "linux/x86_64", false},
    PlatformCase{"aarch64", "musl", "linux/aarch64", false}, PlatformCase{"mips", "glibc", "linux/mips", false}));

TEST(TestImage, AlpineOnlyForMusl)
{
  EXPECT_EQ(test_image("3.11", "glibc"), "python:3.11");
  EXPECT_EQ(test_image("3.12", "musl"), "python:3.12-alpine");
  EXPECT_EQ(test_image("3.12", "Musl"), "python:3.12");
}

TEST(InstallRust, TextPerLibc)
{
  EXPECT_EQ(install_rust("musl"),
            "apk add --no-cache gcc musl-dev python3-dev libffi-dev openssl-dev cargo pkgconfig;");
  EXPECT_EQ(install_rust("glibc"), "apt-get update;DEBIAN_FRONTEND=\"noninteractive\" apt-get install -y rustc cargo;");
}

TEST(InstallRust, UnknownLibcIsNotImplemented)
{
  try {
    install_rust("uclibc");
    FAIL() << "no error";
  } catch (const tolvo::Unsupported& error) {
    EXPECT_STREQ(error.what(), "ERROR: Unknown libc uclibc");
  }
}

// ---- the host's architecture --------------------------------------------------

TEST(HostArchitecture, MachineNamesInWheelTagNaming)
{
  const std::vector<std::pair<std::string, std::string>> names{
    {"x86_64", "x86_64"}, {"amd64", "x86_64"},    {"aarch64", "aarch64"}, {"arm64", "aarch64"}, {"armv7l", "armv7l"},
    {"armv8l", "armv7l"}, {"i386", "i686"},       {"i586", "i686"},       {"i686", "i686"},     {"ppc64le", "ppc64le"},
    {"s390x", "s390x"},   {"riscv64", "riscv64"}, {"mips64", "mips64"}};
  for (const auto& [machine, name] : names) {
    EXPECT_EQ(normalize_machine(machine), name) << machine;
  }
  // Whatever this machine is, it is reported in that naming.
  const std::string host = host_architecture();
  EXPECT_EQ(normalize_machine(host), host);
}

struct HostCase
{
  const char* host;
  const char* arch;
  const char* libc;
  const char* build_image;
  const char* platform;
  bool emulation;
};

void PrintTo(const HostCase& c, std::ostream* os)
{
  *os << c.arch << " " << c.libc << " on " << c.host;
}

class OnHost : public testing::TestWithParam<HostCase>
{};

TEST_P(OnHost, ImagesAndEmulation)
{
  const HostCase& c = GetParam();
  EXPECT_EQ(get_manylinux_image(c.arch, c.libc), c.build_image);
  EXPECT_EQ(test_platform(c.arch), c.platform);
  EXPECT_EQ(needs_emulation(c.arch, c.host), c.emulation);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, OnHost,
  testing::Values(HostCase{"aarch64", "aarch64", "glibc", "manylinux_2_34_aarch64", "linux/aarch64", false},
                  HostCase{"aarch64", "aarch64", "musl", "musllinux_1_2_aarch64", "linux/aarch64", false},
                  HostCase{"aarch64", "x86_64", "glibc", "manylinux_2_34_x86_64", "linux/x86_64", true},
                  HostCase{"aarch64", "x86_64", "musl", "musllinux_1_2_x86_64", "linux/x86_64", true},
                  HostCase{"aarch64", "armv7l", "glibc", "manylinux_2_35_armv7l", "linux/arm/v7", true},
                  HostCase{"aarch64", "i686", "glibc", "manylinux_2_34_i686", "linux/386", true},
                  HostCase{"x86_64", "x86_64", "glibc", "manylinux_2_34_x86_64", "linux/x86_64", false},
                  HostCase{"x86_64", "aarch64", "glibc", "manylinux_2_34_aarch64", "linux/aarch64", true},
                  HostCase{"x86_64", "riscv64", "glibc", "manylinux_2_39_riscv64", "linux/riscv64", true},
                  HostCase{"s390x", "s390x", "musl", "musllinux_1_2_s390x", "linux/s390x", false}));

// ---- refused target values -------------------------------------------------

struct TargetCase
{
  const char* arch;
  const char* python;
  // Empty when accepted; otherwise what the message must name.
  const char* refused;
};

void PrintTo(const TargetCase& c, std::ostream* os)
{
  *os << c.arch << " " << c.python;
}

class TargetValues : public testing::TestWithParam<TargetCase>
{};

TEST_P(TargetValues, AcceptedOrRefusedWithTheValue)
{
  const TargetCase& c = GetParam();
  const std::string refused = c.refused;
  try {
    check_target_values(c.arch, c.python);
    EXPECT_EQ(refused, "") << "accepted";
  } catch (const tolvo::InvalidValue& error) {
    EXPECT_NE(refused, "") << error.what();
    EXPECT_NE(std::string(error.what()).find(refused), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
  Cases, TargetValues,
  testing::Values(
    TargetCase{"x86_64", "3.11", ""}, TargetCase{"aarch64", "3.12", ""}, TargetCase{"ppc64le", "3.1.2", ""},
    TargetCase{"armv7l", "311", ""}, TargetCase{"riscv64", "3.13t", ""}, TargetCase{"My-Arch.2_x", "3.9", ""},
    TargetCase{"x86_64", "3.11$(touch /src/PWNED)", "--python value '3.11$(touch /src/PWNED)'"},
    TargetCase{"x86_64", "3.11\" && id && \"", "--python value '3.11\" && id && \"'"},
    TargetCase{"x86_64", "", "--python value ''"}, TargetCase{"x86_64", "3..11", "--python value '3..11'"},
    TargetCase{"x86_64", ".3", "--python value '.3'"}, TargetCase{"x86_64", "3.", "--python value '3.'"},
    TargetCase{"x86_64", "t", "--python value 't'"}, TargetCase{"x86_64", "3.11-slim", "--python value '3.11-slim'"},
    TargetCase{"x86_64", "3.11\n", "--python value '3.11\n'"},
    TargetCase{"x86_64;id", "3.11", "--arch value 'x86_64;id'"}, TargetCase{"x86 64", "3.11", "--arch value 'x86 64'"},
    TargetCase{"arm/v7", "3.11", "--arch value 'arm/v7'"}, TargetCase{"*", "3.11", "--arch value '*'"},
    TargetCase{"", "3.11", "--arch value ''"}, TargetCase{"x86_\xc3\xa9", "3.11", "--arch value"},
    // The architecture is checked first.
    TargetCase{"a$b", "3$", "--arch value 'a$b'"}));

} // namespace
