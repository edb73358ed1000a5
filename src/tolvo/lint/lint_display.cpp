#include "tolvo/lint/lint_display.hpp"

#include "tolvo/console/spinner.hpp"

#include <ostream>

namespace tolvo::lint {

namespace {

constexpr std::string_view CURSOR_UP = "\x1b[1A";
// Erases from the cursor to the end of the screen.
constexpr std::string_view ERASE_BELOW = "\x1b[J";

} // namespace

std::string lint_result_line(std::string_view label, int returncode)
{
  std::string line(label);
  line += ": ";
  if (returncode == 0) {
    line += "PASS";
  } else {
    line += "FAIL (" + std::to_string(returncode) + ")";
  }
  return line;
}

std::string lint_progress_lines(const std::vector<LintLineState>& states, std::size_t frame_index, std::size_t columns)
{
  std::string text;
  for (const LintLineState& state : states) {
    text += state.returncode
              ? std::string(console::fit_to_row(lint_result_line(state.label, *state.returncode), columns))
              : console::spinner_line(state.label, frame_index, columns);
    text += "\n";
  }
  return text;
}

std::string lint_arrival_lines(const std::vector<LintLineState>& states, std::vector<bool>& shown)
{
  shown.resize(states.size(), false);
  std::string text;
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (states[i].returncode && !shown[i]) {
      text += lint_result_line(states[i].label, *states[i].returncode) + "\n";
      shown[i] = true;
    }
  }
  return text;
}

LiveDisplay::LiveDisplay(const platform::ConsoleStreams& console, std::size_t lines)
  : m_console(console),
    m_lines(lines)
{}

LiveDisplay::~LiveDisplay()
{
  if (m_rewound) {
    m_console.out << std::string(m_lines, '\n') << std::flush;
  }
}

void LiveDisplay::draw(const std::vector<LintLineState>& states, std::size_t frame_index)
{
  if (!m_console.redraws) {
    if (!m_started) {
      m_console.out << RUNNING_LINE << '\n';
      m_started = true;
    }
    m_console.out << lint_arrival_lines(states, m_shown) << std::flush;
    return;
  }
  m_console.out << lint_progress_lines(states, frame_index, m_console.columns) << std::flush;
  m_rewound = false;
}

void LiveDisplay::rewind()
{
  if (!m_console.redraws) {
    return;
  }
  for (std::size_t i = 0; i < m_lines; ++i) {
    m_console.out << CURSOR_UP;
  }
  m_rewound = true;
}

void LiveDisplay::hand_over()
{
  if (m_rewound) {
    m_console.out << ERASE_BELOW;
  }
  m_rewound = false;
}

} // namespace tolvo::lint
