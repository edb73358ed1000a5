#pragma once

// The program entry: runs `main` and turns what escapes it into the exit
// status. The only place in tolvo that catches errors, and the one that
// decides how an error is shown.

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::cli {

/// What the user sees on standard error for an error that ends the run,
/// and the exit status.
struct ErrorReport
{
  std::string text;
  int status = 1;
};

/// A usage error's own text and status 2; a message that is the whole line
/// as it stands; otherwise "tolvo: error: [<context>: ]<message>". Every
/// report ends with a line break.
ErrorReport error_report(const std::exception& error);

/// Parses `argv` (the process's own arguments when absent, without the
/// program name), changes to --directory and runs the chosen handler.
/// Returns the handler's result. Errors propagate.
int run_command_line(const std::optional<std::vector<std::string>>& argv = std::nullopt);

/// Calls main with the process's arguments; prints the error report of an
/// error and returns its status, returns the status of an ExitRequest, and 1
/// when standard output or standard error could not be written. Catches SIGINT, SIGTERM,
/// SIGHUP and SIGQUIT meanwhile: an interrupted run returns 128 + the
/// signal once its children have ended. `version` is what --version shows; it is
/// stamped into the executable only.
int program_entry(int argc, char** argv, std::string_view version = "dev");

} // namespace tolvo::cli
