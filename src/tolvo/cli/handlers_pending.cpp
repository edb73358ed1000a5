// Commands whose handlers are not written yet. Each one is removed from
// this file when its real handler lands.

#include "tolvo/cli/handlers.hpp"

#include "tolvo/errors.hpp"

namespace tolvo::cli {

int cmd_lint(const Namespace&, const Parser&)
{
  throw NotImplementedError("'lint' is not available yet");
}

} // namespace tolvo::cli
