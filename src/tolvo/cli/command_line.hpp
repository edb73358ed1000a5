#pragma once

// tolvo's own command table: every command, option, default and help text.

#include "tolvo/cli/grammar.hpp"

#include <string_view>

namespace tolvo::cli {

/// The whole command line of tolvo; `version` is what --version shows
/// after the program name.
Parser build_parser(std::string_view version = "dev");

} // namespace tolvo::cli
