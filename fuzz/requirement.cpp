// Requirement strings: parsing and the round trip of the normalised text.

#include "tolvo/config/packaging/requirement.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view text = tolvo_fuzz::as_text(data, size);
  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const tolvo::config::Requirement requirement(text);
    const std::string normal = requirement.str();
    // As with markers, one more round may still normalise a nested extra.
    const tolvo::config::Requirement again(normal);
    TOLVO_FUZZ_CHECK(tolvo::config::Requirement(again.str()).str() == again.str(), again.str());
    TOLVO_FUZZ_CHECK(again.name == requirement.name, normal);
    TOLVO_FUZZ_CHECK(again.extras == requirement.extras, normal);
    TOLVO_FUZZ_CHECK(again.url == requirement.url, normal);
  });
  return 0;
}
