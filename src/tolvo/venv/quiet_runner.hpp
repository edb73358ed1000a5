#pragma once

// Running installation steps quietly: output is captured and shown only
// when the step fails; on a terminal a braille spinner shows progress.

#include "tolvo/platform/process.hpp"

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo {

/// The spinner frames, shared with the lint display.
inline constexpr std::array<std::string_view, 10> SPINNER_FRAMES = {
  "\u280b", "\u2819", "\u2839", "\u2838", "\u283c", "\u2834", "\u2826", "\u2827", "\u2807", "\u280f",
};

/// Where the spinner writes and whether it animates; the tool's own
/// standard streams unless a test says otherwise.
struct ConsoleStreams
{
  std::ostream& out;
  std::ostream& err;
  bool terminal;
};

/// The tool's standard output and error, animated when stdout is a terminal.
ConsoleStreams standard_console();

/// Runs `args` captured; silent on success. On failure shows the captured
/// texts, then throws CalledProcessError when `check` is set.
platform::CompletedProcess _chronic(const std::vector<std::string>& args,
                                    const std::optional<platform::Environment>& env = std::nullopt,
                                    bool check = true);
platform::CompletedProcess _chronic(const std::vector<std::string>& args,
                                    const std::optional<platform::Environment>& env,
                                    bool check,
                                    const ConsoleStreams& console);

/// Runs `args` behind a progress line for `action`; quiet mode with `chronic`.
platform::CompletedProcess _spinner(std::string_view action, const std::vector<std::string>& args, bool chronic = false);
platform::CompletedProcess _spinner(std::string_view action,
                                    const std::vector<std::string>& args,
                                    bool chronic,
                                    const ConsoleStreams& console);

/// The number of characters (UTF-8 code points) in `text`.
std::size_t character_count(std::string_view text);

} // namespace tolvo
