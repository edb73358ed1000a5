#include "tolvo/venv/quiet_runner.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/terminal.hpp"

#include <chrono>
#include <iostream>
#include <ostream>

namespace tolvo {

namespace {

constexpr std::chrono::milliseconds SPINNER_INTERVAL{100};

// Shows what a failed step wrote, each stream on its own.
void show_failure(const platform::CompletedProcess& result, const ConsoleStreams& console)
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
  SpinnerLine(std::string_view action, const ConsoleStreams& console)
    : m_action(action),
      m_console(console)
  {
  }
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
    m_console.out << '\r' << m_action << ": [" << SPINNER_FRAMES[m_index] << "]";
    m_console.out.flush();
  }

  // Overwrites the action, ": [", the frame and "]" with spaces.
  void blank()
  {
    const std::size_t width = character_count(m_action) + 4 + character_count(SPINNER_FRAMES[m_index]);
    m_console.out << '\r' << std::string(width, ' ') << '\r';
    m_blanked = true;
  }

private:
  std::string_view m_action;
  const ConsoleStreams& m_console;
  std::size_t m_index = 0;
  bool m_blanked = false;
};

[[noreturn]] void raise_failure(platform::CompletedProcess& result)
{
  throw CalledProcessError(result.returncode, result.args, result.stdout_text.value_or(""),
                           result.stderr_text.value_or(""));
}

} // namespace

ConsoleStreams standard_console()
{
  return ConsoleStreams{std::cout, std::cerr, platform::stdout_is_terminal()};
}

std::size_t character_count(std::string_view text)
{
  std::size_t count = 0;
  for (const char byte : text) {
    // Continuation bytes (10xxxxxx) do not start a character.
    if ((static_cast<unsigned char>(byte) & 0xC0U) != 0x80U) {
      ++count;
    }
  }
  return count;
}

platform::CompletedProcess _chronic(const std::vector<std::string>& args,
                                    const std::optional<platform::Environment>& env,
                                    bool check)
{
  return _chronic(args, env, check, standard_console());
}

platform::CompletedProcess _chronic(const std::vector<std::string>& args,
                                    const std::optional<platform::Environment>& env,
                                    bool check,
                                    const ConsoleStreams& console)
{
  platform::CompletedProcess result = platform::run_process(args, {.env = env, .capture = true});
  if (result.returncode != 0) {
    show_failure(result, console);
    if (check) {
      raise_failure(result);
    }
  }
  return result;
}

platform::CompletedProcess _spinner(std::string_view action, const std::vector<std::string>& args, bool chronic)
{
  return _spinner(action, args, chronic, standard_console());
}

platform::CompletedProcess _spinner(std::string_view action,
                                    const std::vector<std::string>& args,
                                    bool chronic,
                                    const ConsoleStreams& console)
{
  if (!console.terminal) {
    console.out << action << "...\n";
    console.out.flush();
    if (chronic) {
      return _chronic(args, std::nullopt, true, console);
    }
    return platform::run_process(args, {.env = std::nullopt, .capture = true});
  }

  console.out << action << ": [" << SPINNER_FRAMES[0] << "]";
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
    raise_failure(result);
  }
  return result;
}

} // namespace tolvo
