#pragma once

// Building wheels in PyPA manylinux/musllinux containers and testing them
// in official Python containers of the target platform.

#include "tolvo/wheel/docker.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::wheel {

/// Builds a wheel of the project in the working directory into dist/: a
/// pure wheel, or with `native` a platform wheel repaired by auditwheel.
/// Throws ValueError first when `arch` or `python` is not of a safe shape
/// (check_target_values). Without Docker, prints "Error: Docker is not
/// available" and throws ExitRequest(1). A failed container run throws
/// RuntimeError.
void build_manylinux_wheel(bool native,
                           const std::string& arch,
                           const std::string& libc,
                           const std::string& python,
                           const std::optional<std::string>& setup);

/// Tests a wheel (found in wheelhouse/ or dist/ when `wheel_path` is
/// absent) with the project's tests in a Python container of the target
/// platform. Refuses `arch` and `python` as the build does, then throws
/// NotFoundError when there is no wheel.
void test_manylinux_wheel(const std::optional<std::string>& wheel_path,
                          const std::string& arch,
                          const std::string& libc,
                          const std::string& python,
                          const std::optional<std::string>& setup);

/// The first wheel in wheelhouse/, then dist/, in directory listing order:
/// "*_<arch>.whl" first, then any "*.whl". Returned as "<dir>/<name>".
std::optional<std::string> find_wheel(std::string_view arch);

} // namespace tolvo::wheel
