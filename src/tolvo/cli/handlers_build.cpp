// The artefact commands: build and clean.

#include "tolvo/build/artefacts.hpp"
#include "tolvo/cli/handlers.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/venv/virtual_environment.hpp"

namespace tolvo::cli {

int cmd_build(const Namespace& args, const Parser& /*parser*/)
{
  const VirtualEnvironment venv = get_venv();
  venv.ensure_build_tools();
  if (args.flag("sdist")) {
    build_sdist(venv);
  }
  if (args.flag("wheel")) {
    throw NotImplementedError("'build --wheel' is not available yet");
  }
  if (args.flag("native_wheel")) {
    throw NotImplementedError("'build --native-wheel' is not available yet");
  }
  return 0;
}

int cmd_clean(const Namespace& /*args*/, const Parser& /*parser*/)
{
  clean();
  return 0;
}

} // namespace tolvo::cli
