#include "tolvo/venv/spinner.hpp"

#include "tolvo/platform/text.hpp"

namespace tolvo::venv {

std::string spinner_line(std::string_view action, std::size_t frame_index)
{
  return std::string(action) + ": [" + std::string(SPINNER_FRAMES[frame_index % SPINNER_FRAMES.size()]) + "]";
}

std::string spinner_blank(std::string_view action, std::size_t frame_index)
{
  return "\r" + std::string(platform::character_count(spinner_line(action, frame_index)), ' ') + "\r";
}

std::string skipped_step_line(std::string_view action)
{
  return std::string(action) + "... up to date\n";
}

} // namespace tolvo::venv
