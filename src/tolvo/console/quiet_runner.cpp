#include "tolvo/console/quiet_runner.hpp"

#include "tolvo/console/spinner.hpp"
#include "tolvo/platform/command_display.hpp"

#include <chrono>
#include <ostream>

namespace tolvo::console {

namespace {

constexpr std::chrono::milliseconds SPINNER_INTERVAL{100};

// Shows what a failed step wrote, each stream on its own.
void show_failure(const platform::CompletedProcess& result, const platform::ConsoleStreams& console)
{
  const std::string& out = result.stdout_text ? *result.stdout_text : std::string();
  const std::string& err = result.stderr_text ? *result.stderr_text : std::string();
  if (!out.empty()) {
    console.out << out << '\n';
    console.out.flush();
  }
  if (!err.empty()) {
    console.err << err << '\n';
    console.err.flush();
  }
}

// The drawn spinner line of one step. Blanked when the child ends, and also
// when an interruption unwinds the wait, so the terminal is left clean.
class SpinnerLine
{
public:
  SpinnerLine(std::string_view action, const platform::ConsoleStreams& console)
    : m_action(action),
      m_console(console)
  {}
  SpinnerLine(const SpinnerLine&) = delete;
  SpinnerLine& operator=(const SpinnerLine&) = delete;
  ~SpinnerLine()
  {
    if (!m_blanked) {
      blank();
      m_console.out.flush();
    }
  }

  void draw(std::size_t index)
  {
    m_index = index;
    m_console.out << '\r' << spinner_line(m_action, m_index, m_console.columns);
    m_console.out.flush();
  }

  void blank()
  {
    m_console.out << spinner_blank(m_action, m_index, m_console.columns);
    m_blanked = true;
  }

private:
  std::string_view m_action;
  const platform::ConsoleStreams& m_console;
  std::size_t m_index = 0;
  bool m_blanked = false;
};

} // namespace

platform::CompletedProcess run_quietly(const std::vector<std::string>& args,
                                       const std::optional<platform::Environment>& env, bool check,
                                       const platform::ConsoleStreams& console)
{
  platform::CompletedProcess result = platform::run_process(args, {.env = env, .capture = true});
  if (result.returncode != 0) {
    show_failure(result, console);
    if (check) {
      throw platform::failed_run(result);
    }
  }
  return result;
}

platform::CompletedProcess run_with_spinner(std::string_view action, const std::vector<std::string>& args, bool chronic,
                                            const platform::ConsoleStreams& console)
{
  // A terminal that cannot redraw a line gets each step's line once, as a log does.
  if (!console.terminal || !console.redraws) {
    console.out << action << "...\n";
    console.out.flush();
    if (chronic) {
      return run_quietly(args, std::nullopt, true, console);
    }
    return platform::run_process(args, {.env = std::nullopt, .capture = true});
  }

  console.out << spinner_line(action, 0, console.columns);
  console.out.flush();
  // A child that cannot start leaves the first frame on the line.
  platform::ChildProcess child(args, {.env = std::nullopt, .capture = true});
  SpinnerLine line(action, console);
  std::size_t spinner_idx = 0;
  while (!child.wait_for(SPINNER_INTERVAL)) {
    spinner_idx = (spinner_idx + 1) % SPINNER_FRAMES.size();
    line.draw(spinner_idx);
  }
  line.blank();

  platform::CompletedProcess result = child.take_result();
  if (chronic && result.returncode != 0) {
    console.out.flush();
    show_failure(result, console);
    throw platform::failed_run(result);
  }
  return result;
}

} // namespace tolvo::console
