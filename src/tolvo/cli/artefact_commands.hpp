#pragma once

// The commands that produce or check artefacts: build, clean, lint and
// config-diff.

#include "tolvo/cli/handlers.hpp"

namespace tolvo::cli {

int cmd_build(const ParsedArguments& args, const Parser& parser);
int cmd_clean(const ParsedArguments& args, const Parser& parser);
int cmd_lint(const ParsedArguments& args, const Parser& parser);
int cmd_config_diff(const ParsedArguments& args, const Parser& parser);

} // namespace tolvo::cli
