#include "tolvo/console/spinner.hpp"

#include "tolvo/platform/text.hpp"

namespace tolvo::console {

namespace {

// ": [", the frame and "]".
constexpr std::size_t FRAME_PART = 5;

} // namespace

std::string_view fit_to_row(std::string_view line, std::size_t columns)
{
  return columns == 0 ? line : platform::first_characters(line, columns - 1);
}

std::string spinner_line(std::string_view action, std::size_t frame_index, std::size_t columns)
{
  // The frame is what shows progress: the action gives way first.
  if (columns > 0) {
    const std::size_t room = columns - 1 > FRAME_PART ? columns - 1 - FRAME_PART : 0;
    action = platform::first_characters(action, room);
  }
  const std::string line =
    std::string(action) + ": [" + std::string(SPINNER_FRAMES[frame_index % SPINNER_FRAMES.size()]) + "]";
  return std::string(fit_to_row(line, columns));
}

std::string spinner_blank(std::string_view action, std::size_t frame_index, std::size_t columns)
{
  return "\r" + std::string(platform::character_count(spinner_line(action, frame_index, columns)), ' ') + "\r";
}

std::string skipped_step_line(std::string_view action)
{
  return std::string(action) + "... up to date\n";
}

} // namespace tolvo::console
