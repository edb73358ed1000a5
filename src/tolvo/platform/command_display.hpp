#pragma once

// How a command line is shown to the user: as a shell would show it, so
// that it can be read, and run again, at a prompt.

#include "tolvo/errors.hpp"
#include "tolvo/platform/process.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tolvo::platform {

/// `word` quoted for a POSIX shell where it needs it: unchanged when made
/// only of letters, digits and @%+=:,./_-, otherwise in single quotes.
std::string shell_quote(std::string_view word);

/// The argument list as one shell command line. An argument that spans
/// several lines (a composed script) is shown by its first non-empty line
/// and its line count, so that a failure report stays one readable line.
std::string command_display(const std::vector<std::string>& args);

/// "command failed with exit status <n>: <command line>", or "command
/// died with signal <n>: ..." for a child a signal ended.
std::string failed_run_message(const std::vector<std::string>& args, int returncode);

/// The error for a child that ended with a non-zero return code.
CalledProcessError failed_run(const CompletedProcess& result);

} // namespace tolvo::platform
