#include "tolvo/cli/entry.hpp"
#include "tolvo/errors.hpp"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tolvo::cli {
namespace {

TEST(ErrorReport, OnePrefixWhereTheMessageNeedsOneNoneWhereItIsTheWholeLine)
{
  const struct
  {
    ErrorReport report;
    std::string text;
    int status;
  } cases[] = {
    {error_report(InvalidValue("Unknown extra 'web'. Available: ")), "tolvo: error: Unknown extra 'web'. Available: \n",
     1},
    {error_report(AssertionFailure("1", "pyproject.toml: 'project.version' is not a string")),
     "tolvo: error: pyproject.toml: 'project.version' is not a string: 1\n", 1},
    {error_report(PreconditionFailure("Error: Docker is not available")), "Error: Docker is not available\n", 1},
    {error_report(NotFoundError("Error: No wheel found for architecture x86_64", WholeLine{})),
     "Error: No wheel found for architecture x86_64\n", 1},
    {error_report(UsageError("usage: tolvo\ntolvo: error: bad\n")), "usage: tolvo\ntolvo: error: bad\n", 2},
    {error_report(std::length_error("basic_string")), "tolvo: error: basic_string\n", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.report.text, c.text);
    EXPECT_EQ(c.report.status, c.status);
  }
}

} // namespace
} // namespace tolvo::cli
