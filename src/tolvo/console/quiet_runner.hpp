#pragma once

// Running installation steps quietly: output is captured and shown only
// when the step fails; on a terminal a braille spinner shows progress.

#include "tolvo/platform/process.hpp"
#include "tolvo/platform/terminal.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace tolvo::console {

/// Runs `args` captured; silent on success. On failure shows the captured
/// texts, then throws CalledProcessError when `check` is set.
platform::CompletedProcess run_quietly(const std::vector<std::string>& args,
                                       const std::optional<platform::Environment>& env = std::nullopt,
                                       bool check = true,
                                       const platform::ConsoleStreams& console = platform::standard_console());

/// Runs `args` behind a progress line for `action`; quiet mode with `chronic`.
platform::CompletedProcess run_with_spinner(std::string_view action, const std::vector<std::string>& args,
                                            bool chronic = false,
                                            const platform::ConsoleStreams& console = platform::standard_console());

} // namespace tolvo::console
