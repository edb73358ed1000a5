#include "tolvo/cli/handlers.hpp"
#include "tolvo/config/template_diff.hpp"

namespace tolvo::cli {

int cmd_config_diff(const Namespace& /*args*/, const Parser& /*parser*/)
{
  return diff();
}

} // namespace tolvo::cli
