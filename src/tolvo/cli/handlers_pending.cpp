// Commands whose handlers are not written yet. Each one is removed from
// this file when its real handler lands.

#include "tolvo/cli/handlers.hpp"

#include "tolvo/errors.hpp"

namespace tolvo::cli {

int cmd_build(const Namespace&, const Parser&)
{
  throw NotImplementedError("'build' is not available yet");
}

int cmd_clean(const Namespace&, const Parser&)
{
  throw NotImplementedError("'clean' is not available yet");
}

int cmd_init(const Namespace&, const Parser&)
{
  throw NotImplementedError("'init' is not available yet");
}

int cmd_config_diff(const Namespace&, const Parser&)
{
  throw NotImplementedError("'config-diff' is not available yet");
}

} // namespace tolvo::cli
