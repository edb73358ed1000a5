#pragma once

// Shared glue of the fuzz targets. An error of tolvo's own hierarchy is the
// library rejecting bad input, an expected outcome; any other exception
// escapes the entry point, terminates, and libFuzzer records it as a crash.
// So do broken invariants, reported through TOLVO_FUZZ_CHECK.

#include "tolvo/errors.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo_fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size)
{
  return {reinterpret_cast<const char*>(data), size};
}

/// Runs `body`, treating tolvo's own errors as a rejected input.
template <typename Body>
void expect_tolvo_errors_only(Body&& body)
{
  try {
    body();
  } catch (const tolvo::Error&) {
  }
}

/// `text` cut at every '\n' (a trailing '\r' stays part of the line).
inline std::vector<std::string> split_lines(std::string_view text)
{
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

[[noreturn]] inline void invariant_failed(const char* what, const char* file, int line, const std::string& detail)
{
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", file, line, what, detail.c_str());
  std::abort();
}

} // namespace tolvo_fuzz

#define TOLVO_FUZZ_CHECK(condition, detail)                                                                            \
  do {                                                                                                                 \
    if (!(condition)) {                                                                                                \
      ::tolvo_fuzz::invariant_failed(#condition, __FILE__, __LINE__, (detail));                                        \
    }                                                                                                                  \
  } while (false)
