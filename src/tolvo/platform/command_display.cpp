#include "tolvo/platform/command_display.hpp"

#include <cstddef>

namespace tolvo::platform {

namespace {

bool is_safe(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("@%+=:,./_-").find(c) != std::string_view::npos;
}

// The first line with anything on it, and how many lines there are (a
// final line break ends the last line rather than starting another).
std::string script_summary(std::string_view script)
{
  std::size_t lines = 0;
  std::string_view first;
  std::size_t start = 0;
  while (start < script.size()) {
    std::size_t end = script.find('\n', start);
    if (end == std::string_view::npos) {
      end = script.size();
    }
    const std::string_view line = script.substr(start, end - start);
    if (first.empty() && line.find_first_not_of(" \t") != std::string_view::npos) {
      first = line;
    }
    ++lines;
    start = end + 1;
  }
  return shell_quote(first) + "... (" + std::to_string(lines) + " lines)";
}

} // namespace

std::string shell_quote(std::string_view word)
{
  if (!word.empty()) {
    bool safe = true;
    for (const char c : word) {
      safe = safe && is_safe(c);
    }
    if (safe) {
      return std::string(word);
    }
  }
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'') {
      quoted += "'\"'\"'";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string command_display(const std::vector<std::string>& args)
{
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) {
      line += ' ';
    }
    line += arg.find('\n') == std::string::npos ? shell_quote(arg) : script_summary(arg);
  }
  return line;
}

std::string failed_run_message(const std::vector<std::string>& args, int returncode)
{
  // A child ended by a signal has no exit status of its own to name.
  const std::string how = returncode < 0 ? "died with signal " + std::to_string(-returncode)
                                         : "failed with exit status " + std::to_string(returncode);
  return "command " + how + ": " + command_display(args);
}

CalledProcessError failed_run(const CompletedProcess& result)
{
  return CalledProcessError(failed_run_message(result.args, result.returncode), result.returncode, result.args,
                            result.stdout_text.value_or(""), result.stderr_text.value_or(""));
}

} // namespace tolvo::platform
