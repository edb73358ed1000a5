#pragma once

// The program entry: runs `main` and turns what escapes it into the exit
// status. The only place in tolvo that catches errors.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::cli {

/// Parses `argv` (the process's own arguments when absent, without the
/// program name), changes to --directory and runs the chosen handler.
/// Returns the handler's result. Errors propagate.
int main(const std::optional<std::vector<std::string>>& argv = std::nullopt);

/// Calls main with the process's arguments; prints "tolvo: error: ..." for
/// an error and returns 1, returns the status of an ExitRequest. Catches
/// SIGINT and SIGTERM meanwhile: an interrupted run returns 128 + the signal
/// once its children have ended. `version` is what --version shows; it is
/// stamped into the executable only.
int program_entry(int argc, char** argv, std::string_view version = "dev");

} // namespace tolvo::cli
