#pragma once

// The few questions tolvo asks about its terminal.

namespace tolvo::platform {

/// Whether standard output is a terminal.
bool stdout_is_terminal();

/// Whether standard input is a terminal.
bool stdin_is_terminal();

} // namespace tolvo::platform
