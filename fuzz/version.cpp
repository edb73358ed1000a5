// PEP 440 versions: parsing, every derived form, and the round trip of the
// normalised text.

#include "tolvo/config/packaging/version.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view text = tolvo_fuzz::as_text(data, size);
  const auto parsed = tolvo::config::Version::try_parse(text);
  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const tolvo::config::Version v(text);
    TOLVO_FUZZ_CHECK(parsed.has_value(), "try_parse rejected what the constructor accepted");
    const std::string normal = v.str();
    // The normalised text names the same version and is its own normal form.
    const tolvo::config::Version again(normal);
    TOLVO_FUZZ_CHECK(again == v, normal);
    TOLVO_FUZZ_CHECK(again.str() == normal, normal);
    TOLVO_FUZZ_CHECK((v <=> *parsed) == 0, normal);
    (void)v.public_str();
    const tolvo::config::Version base(v.base_version());
    TOLVO_FUZZ_CHECK(!base.is_prerelease() && !base.is_postrelease() && !base.has_local(), normal);
    if (v.is_postrelease()) {
      TOLVO_FUZZ_CHECK(v.post_base() < v, normal);
    }
    const tolvo::config::Version earliest = v.earliest_prerelease();
    TOLVO_FUZZ_CHECK(earliest <= v, normal);
    (void)v.epoch();
    (void)v.release();
  });
  if (!parsed) {
    // The constructor must reject it too, with tolvo's own error.
    bool rejected = false;
    try {
      (void)tolvo::config::Version(text);
    } catch (const tolvo::Error&) {
      rejected = true;
    }
    TOLVO_FUZZ_CHECK(rejected, "constructor accepted what try_parse rejected");
  }
  return 0;
}
