#pragma once

// The few questions tolvo asks about its terminal.

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace tolvo::platform {

/// Where progress and reports are written and whether they may animate:
/// the tool's own standard streams unless a test says otherwise.
struct ConsoleStreams
{
  std::ostream& out;
  std::ostream& err;
  bool terminal;
  /// The terminal's width in columns; 0 when unknown. A line redrawn in
  /// place must fit, or it wraps and every redraw adds a row.
  std::size_t columns;
  /// Whether the terminal takes carriage returns, cursor movement and erase
  /// sequences. Without them it shows each line once, as it comes.
  bool redraws = true;
};

/// The tool's standard output and error, animated when stdout is a terminal
/// that redraws.
ConsoleStreams standard_console();

/// Whether a terminal of type `term` (the TERM variable; none when unset)
/// redraws lines: not "dumb" (an editor's shell buffer, some CI logs), nor
/// unknown.
bool terminal_redraws(std::optional<std::string_view> term);

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
