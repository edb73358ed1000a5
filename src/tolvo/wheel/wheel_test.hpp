#pragma once

// Testing a built wheel in an official Python container of its platform.

#include "tolvo/wheel/test_selection.hpp"

#include <optional>
#include <string>

namespace tolvo::wheel {

/// Tests a wheel (found by find_wheel when `wheel_path` is absent) with
/// the project's tests, as `selection` names them, in a Python container
/// of the target platform. Refuses `arch` and `python` as the build does,
/// then throws PreconditionFailure without Docker, NotFoundError when there
/// is no wheel or no single one to choose, CalledProcessError when a
/// container run fails.
void test_manylinux_wheel(const std::optional<std::string>& wheel_path, const std::string& arch,
                          const std::string& libc, const std::string& python, const std::optional<std::string>& setup,
                          const TestSelection& selection = {});

} // namespace tolvo::wheel
