#pragma once

// The contract of a command handler. Every handler takes the parsed
// arguments and the top-level parser and returns the exit code (0 for
// success); failures it does not turn into a code are thrown and reach the
// entry uncaught. The handlers live by family: project_commands.hpp
// (requirements, test, status), artefact_commands.hpp (build, clean, lint,
// config-diff) and init_command.hpp.

#include "tolvo/cli/parsed_arguments.hpp"

namespace tolvo::cli {

class Parser;

using Handler = int (*)(const ParsedArguments& args, const Parser& parser);

} // namespace tolvo::cli
