// The template filler. The input up to the first NUL byte is the template
// text; after it, each line "name=value" adds a placeholder value to a few
// fixed ones.

#include "tolvo/config/template.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view input = tolvo_fuzz::as_text(data, size);
  const std::size_t nul = input.find('\0');
  const std::string_view text = input.substr(0, nul);

  tolvo::config::TemplateValues values = {{"name", "demo"}, {"version", "1.0"}, {"braces", "{x}}"}, {"", "empty"}};
  if (nul != std::string_view::npos) {
    for (const std::string& line : tolvo_fuzz::split_lines(input.substr(nul + 1))) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) {
        values[line.substr(0, equals)] = line.substr(equals + 1);
      }
    }
  }
  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const std::string filled = tolvo::config::fill_template("fuzz", text, values);
    // Text without braces passes through untouched.
    if (text.find_first_of("{}") == std::string_view::npos) {
      TOLVO_FUZZ_CHECK(filled == text, filled);
    }
  });
  return 0;
}
