#pragma once

// The few questions tolvo asks about its terminal.

#include <string>

namespace tolvo::platform {

/// Whether standard output is a terminal.
bool stdout_is_terminal();

/// Whether standard input is a terminal.
bool stdin_is_terminal();

/// Reads one line from standard input into `line`, without its line break,
/// as std::getline does: false at end of input with nothing read. Throws
/// Interrupted when the tool is interrupted while it waits, so that Ctrl-C
/// at a prompt ends the tool at once.
bool read_line(std::string& line);

} // namespace tolvo::platform
