// ProjectConfig read from bytes, every accessor asked.

#include "tolvo/config/pyproject.hpp"

#include "fuzz_support.hpp"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  std::istringstream stream(std::string(tolvo_fuzz::as_text(data, size)));
  tolvo_fuzz::expect_tolvo_errors_only([&] {
    const tolvo::config::ProjectConfig config(stream);
    // Each accessor on its own: one failing must not hide the others.
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.name(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.version(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.extras(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.build_system_requires(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.build_backend(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.pyright_exclude(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.ruff_exclude(); });
    tolvo_fuzz::expect_tolvo_errors_only([&] { (void)config.requires_python(); });
  });
  return 0;
}
