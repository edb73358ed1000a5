#pragma once

// Testing a built wheel in an official Python container of its platform.

#include <optional>
#include <string>

namespace tolvo::wheel {

/// Tests a wheel (found in wheelhouse/ or dist/ when `wheel_path` is
/// absent) with the project's tests in a Python container of the target
/// platform. Refuses `arch` and `python` as the build does, then throws
/// PreconditionFailure without Docker, NotFoundError when there is no
/// wheel, CalledProcessError when a container run fails.
void test_manylinux_wheel(const std::optional<std::string>& wheel_path, const std::string& arch,
                          const std::string& libc, const std::string& python, const std::optional<std::string>& setup);

} // namespace tolvo::wheel
