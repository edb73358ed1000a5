#pragma once

// The commands that produce or check artefacts: build, clean, lint and
// config-diff.

#include "tolvo/cli/handlers.hpp"

namespace tolvo::cli {

int cmd_build(const Namespace& args, const Parser& parser);
int cmd_clean(const Namespace& args, const Parser& parser);
int cmd_lint(const Namespace& args, const Parser& parser);
int cmd_config_diff(const Namespace& args, const Parser& parser);

} // namespace tolvo::cli
