// Specifier sets and their membership test. The first line is the
// specifier set, the rest a version to test against it.

#include "tolvo/config/packaging/specifier.hpp"

#include "tolvo/config/packaging/version.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view input = tolvo_fuzz::as_text(data, size);
  const std::size_t newline = input.find('\n');
  const std::string_view spec_text = input.substr(0, newline);
  const std::string_view version_text =
    newline == std::string_view::npos ? std::string_view{"1.0"} : input.substr(newline + 1);

  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const tolvo::config::SpecifierSet set(spec_text);
    const std::string normal = set.str();
    // The joined text parses back to the same set.
    TOLVO_FUZZ_CHECK(tolvo::config::SpecifierSet(normal).str() == normal, normal);
    for (const tolvo::config::Specifier& spec : set) {
      (void)spec.op();
      (void)spec.version();
      (void)spec.names_prerelease();
      TOLVO_FUZZ_CHECK(tolvo::config::Specifier(spec.str()).str() == spec.str(), spec.str());
    }
    const auto version = tolvo::config::Version::try_parse(version_text);
    if (!version) {
      return;
    }
    const bool plain = set.contains(*version);
    const bool with_pre = set.contains(*version, true);
    const bool without_pre = set.contains(*version, false);
    // Admitting pre-releases can only widen the set.
    TOLVO_FUZZ_CHECK(!without_pre || with_pre, normal + " / " + version->str());
    (void)plain;
    for (const tolvo::config::Specifier& spec : set) {
      (void)spec.contains(*version);
    }
  });
  return 0;
}
