#pragma once

// Which tests the test container runs. The container copies the project's
// tests directory out of the mounted project, so that the tests import the
// installed wheel rather than the sources, and runs pytest on that copy.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::wheel {

/// The directory the test container copies and runs the tests from.
inline constexpr std::string_view CONTAINER_TESTS_DIR = "tests";

/// What pytest is given in the test container: a path inside the copied
/// tests directory, then further arguments, as the user gave them.
struct TestSelection
{
  std::string path{CONTAINER_TESTS_DIR};
  std::vector<std::string> args;
};

/// `path`, a file or directory optionally followed by a pytest node id
/// ("tests/test_a.py::test_b"), as the test container sees it: relative to
/// the project directory `project` (an absolute path is made relative to
/// it), normalised, without a trailing "/". None when it does not lie
/// inside the tests directory, since nothing else is copied.
std::optional<std::string> container_test_path(std::string_view path, const std::filesystem::path& project);

} // namespace tolvo::wheel
