#pragma once

// What the lint command shows: the live display of the five checks while
// they run, and the result lines of the report.

#include "tolvo/platform/terminal.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::lint {

/// One line of the live display: the check's code once it has finished.
struct LintLineState
{
  std::string label;
  std::optional<int> returncode;
};

/// "ruff: PASS" or "dodgy: FAIL (1)", no line break.
std::string lint_result_line(std::string_view label, int returncode);

/// One drawing of the display: a line per check, each ending in a line break;
/// running checks show the spinner frame `frame_index`. With a terminal
/// width (`columns` > 0) every line fits in one row, so that moving the
/// cursor up one row per line finds the first line again.
std::string lint_progress_lines(const std::vector<LintLineState>& states, std::size_t frame_index,
                                std::size_t columns = 0);

/// What a terminal that cannot redraw shows while the checks run: the
/// result line of each check finished since the last call, in table order,
/// each ending in a line break. `shown` (one flag per check, false at
/// first) remembers which were shown.
std::string lint_arrival_lines(const std::vector<LintLineState>& states, std::vector<bool>& shown);

/// The line said before the first result when the checks' progress is not
/// drawn in place.
inline constexpr std::string_view RUNNING_LINE = "Running linters...";

/// The live display on a terminal. After a drawing the cursor stands below
/// its lines, after rewinding at the first of them, where the next drawing
/// or the report overwrites them. Left early (an interruption, a check that
/// could not start) it moves the cursor below the lines again, so that
/// nothing that follows lands on top of them. On a terminal that cannot
/// redraw, the cursor never moves back: each result is shown once, as it
/// arrives, after RUNNING_LINE.
class LiveDisplay
{
public:
  LiveDisplay(const platform::ConsoleStreams& console, std::size_t lines);
  LiveDisplay(const LiveDisplay&) = delete;
  LiveDisplay& operator=(const LiveDisplay&) = delete;
  ~LiveDisplay();

  /// Shows `states`, running checks with the spinner frame `frame_index`.
  void draw(const std::vector<LintLineState>& states, std::size_t frame_index);
  /// Moves the cursor up to the first line of the last drawing.
  void rewind();
  /// The report takes the lines over from their first: the old lines are
  /// erased, so that no part of them shows between the report's lines.
  void hand_over();

private:
  const platform::ConsoleStreams& m_console;
  std::size_t m_lines;
  bool m_rewound = false;
  // Without redrawing: which results are out, and whether RUNNING_LINE is.
  std::vector<bool> m_shown;
  bool m_started = false;
};

} // namespace tolvo::lint
