// Environment markers: parsing, the normalised text and evaluation in a
// fixed environment (every variable set, so the machine does not matter).

#include "tolvo/config/packaging/marker.hpp"

#include "fuzz_support.hpp"

namespace {

const tolvo::config::MarkerEnvironment& fixed_environment()
{
  static const tolvo::config::MarkerEnvironment env = {
    {"os_name", "posix"},
    {"sys_platform", "linux"},
    {"platform_machine", "x86_64"},
    {"platform_release", "6.1.0-18-amd64"},
    {"platform_system", "Linux"},
    {"platform_version", "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"},
    {"implementation_name", "cpython"},
    {"implementation_version", "3.11.2"},
    {"platform_python_implementation", "CPython"},
    {"python_version", "3.11"},
    {"python_full_version", "3.11.2"},
    {"extra", "test"},
  };
  return env;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view text = tolvo_fuzz::as_text(data, size);
  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const tolvo::config::Marker marker(text);
    const std::string normal = marker.str();
    // The normalised text is itself a marker. It need not be its own normal
    // form: as in the reference, extras are normalised only at the top
    // level, and dropping redundant outer parentheses can bring a nested
    // one there. After that one step the form is stable.
    const std::string second = tolvo::config::Marker(normal).str();
    TOLVO_FUZZ_CHECK(tolvo::config::Marker(second).str() == second, second);
    (void)marker.evaluate(fixed_environment());
  });
  return 0;
}
