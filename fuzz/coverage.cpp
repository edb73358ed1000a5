// Requirement coverage. Line 1 is the requires-python value; the lines up
// to a line "---" are the expected requirements, the lines after it the
// actual ones.

#include "tolvo/config/coverage.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  std::vector<std::string> lines = tolvo_fuzz::split_lines(tolvo_fuzz::as_text(data, size));
  const std::string requires_python = lines.front();
  std::vector<std::string> expected;
  std::vector<std::string> actual;
  bool after_separator = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!after_separator && lines[i] == "---") {
      after_separator = true;
      continue;
    }
    (after_separator ? actual : expected).push_back(lines[i]);
  }
  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const auto missing = tolvo::config::requirements_not_satisfied_by(expected, actual, requires_python);
    TOLVO_FUZZ_CHECK(missing.size() <= expected.size(), requires_python);
    // Every list covers itself.
    const auto self = tolvo::config::requirements_not_satisfied_by(expected, expected, requires_python);
    TOLVO_FUZZ_CHECK(self.empty(), self.empty() ? std::string() : self.front());
  });
  return 0;
}
