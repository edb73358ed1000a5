#include "tolvo/wheel/wheel_build.hpp"

#include "tolvo/wheel/engine.hpp"
#include "tolvo/wheel/engine_args.hpp"
#include "tolvo/wheel/host_arch.hpp"
#include "tolvo/wheel/images.hpp"
#include "tolvo/wheel/scripts.hpp"

#include <iostream>

namespace tolvo::wheel {

void build_manylinux_wheel(bool native, const std::string& arch, const std::string& libc, const std::string& python,
                           const std::optional<std::string>& setup)
{
  check_target_values(arch, python);
  require_docker();
  const std::string image = get_manylinux_image(arch, libc);
  const std::string interpreter = get_python_interpreter(python);
  const std::string script = compose_build_script(native, arch, interpreter, setup);

  std::cout << "Building manylinux wheel for " << arch << " (" << libc << ") with Python " << python << "..."
            << std::endl;
  if (needs_emulation(arch, host_architecture())) {
    register_emulation();
  }
  run_engine(build_run_args(volume_mount(), build_image_reference(image), script));
  std::cout << "Manylinux wheel built for " << arch << std::endl;
}

} // namespace tolvo::wheel
