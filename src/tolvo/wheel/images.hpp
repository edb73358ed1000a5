#pragma once

// Naming of the container images and interpreters that wheels are built and
// tested in. Pure text functions: nothing here starts a process.

#include <string>
#include <string_view>

namespace tolvo::wheel {

/// Whether `python` is version-shaped: groups of digits separated by single
/// dots, optionally ending in "t" (free-threaded): "3.11", "3.1.2", "311",
/// "3.13t". The value goes into the build script and the image names.
bool is_python_version(std::string_view python);

/// Whether `arch` is one or more letters, digits, '_', '.' and '-'. The
/// value goes into the build script, the image names and the platform.
bool is_architecture_name(std::string_view arch);

/// Throws InvalidValue naming the option and the value when `arch` or
/// `python` has another shape; both container operations call it before
/// anything else, so a refused value never reaches a container.
void check_target_values(std::string_view arch, std::string_view python);

/// The CPython interpreter tag of a version: every "." removed, then
/// "cp<digits>-cp<digits>" ("3.11" gives "cp311-cp311").
std::string get_python_interpreter(std::string_view python_version);

/// The PyPA build image name (no registry, no tag) for a target
/// architecture and C library. Any libc other than exactly "musl" is glibc.
std::string get_manylinux_image(std::string_view arch, std::string_view libc);

/// The Docker platform of the official Python test image for `arch`.
std::string test_platform(std::string_view arch);

/// Whether the test container must install a Rust tool chain first for
/// this architecture and C library.
bool test_needs_rust(std::string_view arch, std::string_view libc);

/// The official Python test image: "python:<python>", with "-alpine" for
/// musl.
std::string test_image(std::string_view python, std::string_view libc);

/// The shell text that installs a Rust tool chain in a test image of the
/// given C library. Throws Unsupported for any libc other than
/// "musl" or "glibc".
std::string install_rust(std::string_view libc);

} // namespace tolvo::wheel
