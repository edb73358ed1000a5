// The artefact commands: build and clean.

#include "tolvo/build/artefacts.hpp"
#include "tolvo/cli/handlers.hpp"
#include "tolvo/venv/virtual_environment.hpp"
#include "tolvo/wheel/wheels.hpp"

namespace tolvo::cli {

int cmd_build(const Namespace& args, const Parser& /*parser*/)
{
  const VirtualEnvironment venv = get_venv();
  venv.ensure_build_tools();
  if (args.flag("sdist")) {
    build_sdist(venv);
  }
  if (args.flag("wheel")) {
    wheel::build_manylinux_wheel(false, args.str("arch"), args.str("libc"), args.str("python"), args.opt("setup"));
  }
  if (args.flag("native_wheel")) {
    wheel::build_manylinux_wheel(true, args.str("arch"), args.str("libc"), args.str("python"), args.opt("setup"));
  }
  return 0;
}

int cmd_clean(const Namespace& /*args*/, const Parser& /*parser*/)
{
  clean();
  return 0;
}

} // namespace tolvo::cli
