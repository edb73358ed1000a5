#pragma once

// What a wheel's file name says about it:
// {distribution}-{version}(-{build tag})?-{python tag}-{abi tag}-{platform tag}.whl

#include "tolvo/config/packaging/version.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::wheel {

struct WheelName
{
  /// As written: runs of "-", "_" and "." escaped to "_".
  std::string distribution;
  /// As written, possibly escaped ("-" as "_").
  std::string version;
  std::optional<std::string> build_tag;
  std::string python_tag;
  std::string abi_tag;
  /// One or more platform tags joined with ".", such as
  /// "manylinux_2_17_x86_64.manylinux2014_x86_64".
  std::string platform_tag;
};

/// The parts of a wheel file name, or none when `file_name` does not have
/// five or six non-empty parts before ".whl".
std::optional<WheelName> parse_wheel_name(std::string_view file_name);

/// The wheel's version as a PEP 440 version, undoing the "_" escape of
/// older builders ("1.0_1" is 1.0-1, that is 1.0.post1); none when it is
/// not a valid version either way.
std::optional<config::Version> wheel_version(const WheelName& wheel);

/// Whether pip in a container of C library `libc` ("glibc" or "musl") can
/// take the wheel by its platform tags: "any" and "linux_*" fit both,
/// "manylinux*" fits glibc, "musllinux_*" fits musl.
bool fits_libc(const WheelName& wheel, std::string_view libc);

} // namespace tolvo::wheel
