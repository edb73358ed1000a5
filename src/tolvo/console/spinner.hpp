#pragma once

// The one-line progress indicator of an installation step: the action text
// and a braille frame, redrawn in place, then blanked.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvo::console {

/// The spinner frames, shared with the lint display.
inline constexpr std::array<std::string_view, 10> SPINNER_FRAMES = {
  "\u280b", "\u2819", "\u2839", "\u2838", "\u283c", "\u2834", "\u2826", "\u2827", "\u2807", "\u280f",
};

/// "<action>: [<frame>]" for frame `frame_index`, no line break. With a
/// terminal width (`columns` > 0) the action is cut so that the line fits
/// in one row short of the last column.
std::string spinner_line(std::string_view action, std::size_t frame_index, std::size_t columns = 0);

/// A carriage return, as many spaces as spinner_line has characters, and a
/// carriage return: the line is empty and the cursor at its start.
std::string spinner_blank(std::string_view action, std::size_t frame_index, std::size_t columns = 0);

/// `line` cut to fit one row of a terminal `columns` wide, leaving the last
/// column free; unchanged when `columns` is 0 (unknown).
std::string_view fit_to_row(std::string_view line, std::size_t columns);

/// The line of a step that did not run because the environment already
/// holds what it installs: "<action>... up to date" and a line break. It
/// stays on a terminal too, so the user sees what was skipped.
std::string skipped_step_line(std::string_view action);

} // namespace tolvo::console
