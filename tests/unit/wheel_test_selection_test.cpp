#include "tolvo/wheel/test_selection.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

namespace {

using tolvo::wheel::container_test_path;

struct PathCase
{
  const char* path;
  // Empty when the path is refused.
  const char* in_container;
};

void PrintTo(const PathCase& c, std::ostream* os)
{
  *os << "'" << c.path << "'";
}

class ContainerTestPath : public testing::TestWithParam<PathCase>
{};

TEST_P(ContainerTestPath, InsideTheCopiedTestsOrRefused)
{
  const std::optional<std::string> mapped = container_test_path(GetParam().path, "/home/u/proj");
  EXPECT_EQ(mapped.value_or(""), GetParam().in_container);
}

INSTANTIATE_TEST_SUITE_P(
  Cases, ContainerTestPath,
  testing::Values(PathCase{"tests/", "tests"}, PathCase{"tests", "tests"}, PathCase{"./tests/unit/", "tests/unit"},
                  PathCase{"tests/../tests/test_a.py", "tests/test_a.py"},
                  PathCase{"tests/test_a.py::TestA::test_b[x/../y-1]", "tests/test_a.py::TestA::test_b[x/../y-1]"},
                  PathCase{"tests/it's a $(test).py", "tests/it's a $(test).py"},
                  PathCase{"/home/u/proj/tests/test_a.py", "tests/test_a.py"},
                  PathCase{"/home/u/proj/./tests//unit", "tests/unit"},
                  // Nothing but tests/ reaches the container.
                  PathCase{"testing/", ""}, PathCase{"testsuite/test_a.py", ""}, PathCase{"src/mypkg/tests", ""},
                  PathCase{".", ""}, PathCase{"", ""}, PathCase{"::test_a", ""}, PathCase{"tests/..", ""},
                  PathCase{"tests/../src", ""}, PathCase{"../proj/tests", ""}, PathCase{"/home/u/other/tests", ""},
                  PathCase{"/home/u/proj/../other/tests", ""}, PathCase{"/tests", ""}));

} // namespace
