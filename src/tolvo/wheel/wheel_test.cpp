#include "tolvo/wheel/wheel_test.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/wheel/engine.hpp"
#include "tolvo/wheel/engine_args.hpp"
#include "tolvo/wheel/host_arch.hpp"
#include "tolvo/wheel/images.hpp"
#include "tolvo/wheel/scripts.hpp"
#include "tolvo/wheel/wheel_search.hpp"

#include <filesystem>
#include <iostream>

namespace tolvo::wheel {

void test_manylinux_wheel(const std::optional<std::string>& wheel_path, const std::string& arch,
                          const std::string& libc, const std::string& python, const std::optional<std::string>& setup,
                          const TestSelection& selection)
{
  check_target_values(arch, python);
  require_docker();
  std::optional<std::string> wheel = wheel_path;
  if (!wheel.has_value()) {
    wheel = find_wheel(arch, libc);
  }
  std::error_code error;
  if (!wheel.has_value() || !std::filesystem::exists(*wheel, error)) {
    throw NotFoundError("Error: No wheel found for architecture " + arch, WholeLine{});
  }
  // No official Python 3.11 image exists for glibc on riscv64.
  if (arch == "riscv64" && python == "3.11" && libc == "glibc") {
    std::cerr << "WARNING: python image does not support cp311-manylinux_2_39_riscv64, exiting without error"
              << std::endl;
    return;
  }
  const std::string script = compose_platform_test_script(*wheel, arch, libc, setup, selection);
  const std::string image = test_image(python, libc);

  if (needs_emulation(arch, host_architecture())) {
    register_emulation();
  }
  std::cout << "Testing wheel " << *wheel << " on " << image << "..." << std::endl;
  run_engine(test_run_args(volume_mount(), test_platform(arch), image, script));
  std::cout << "Wheel tests passed" << std::endl;
}

} // namespace tolvo::wheel
