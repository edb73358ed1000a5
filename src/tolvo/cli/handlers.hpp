#pragma once

// The eight command handlers. Every handler takes the parsed arguments and
// the top-level parser and returns the exit code (0 for success); failures
// it does not turn into a code are thrown and reach the entry uncaught.

#include "tolvo/cli/namespace.hpp"

namespace tolvo::cli {

class Parser;

using Handler = int (*)(const Namespace& args, const Parser& parser);

int cmd_requirements(const Namespace& args, const Parser& parser);
int cmd_test(const Namespace& args, const Parser& parser);
int cmd_build(const Namespace& args, const Parser& parser);
int cmd_clean(const Namespace& args, const Parser& parser);
int cmd_lint(const Namespace& args, const Parser& parser);
int cmd_status(const Namespace& args, const Parser& parser);
int cmd_init(const Namespace& args, const Parser& parser);
int cmd_config_diff(const Namespace& args, const Parser& parser);

} // namespace tolvo::cli
