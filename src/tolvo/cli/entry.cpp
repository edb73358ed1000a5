#include "tolvo/cli/entry.hpp"

#include "tolvo/cli/artefact_commands.hpp"
#include "tolvo/cli/command_line.hpp"
#include "tolvo/cli/init_command.hpp"
#include "tolvo/cli/project_commands.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/standard_streams.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <unistd.h>

namespace tolvo::cli {

namespace {

std::vector<std::string> g_process_arguments;
std::string g_version = "dev";

// Writes out what standard output still buffers. Returns the reason when
// any of the run's output could not be written.
std::optional<std::string> finish_standard_output()
{
  errno = 0;
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  const int error_number = errno;
  if (flushed && std::ferror(stdout) == 0 && !std::cout.fail()) {
    return std::nullopt;
  }
  return std::string("cannot write to standard output") +
         (error_number != 0 ? std::string(": ") + std::strerror(error_number) : std::string());
}

void change_directory(const std::string& directory)
{
  std::error_code error;
  const std::filesystem::path target = std::filesystem::absolute(directory, error);
  if (error || ::chdir(target.c_str()) != 0) {
    const int number = error ? error.value() : errno;
    throw SystemError("cannot change to directory '" + directory + "': " + std::strerror(number), number);
  }
}

} // namespace

ErrorReport error_report(const std::exception& error)
{
  const auto* known = dynamic_cast<const Error*>(&error);
  if (known == nullptr) {
    return {"tolvo: error: " + std::string(error.what()) + "\n", 1};
  }
  const int status = dynamic_cast<const UsageError*>(known) != nullptr ? 2 : 1;
  std::string text = error.what();
  if (!known->whole_line()) {
    const std::string where = known->context().empty() ? "" : known->context() + ": ";
    text = "tolvo: error: " + where + text;
  }
  if (text.empty() || text.back() != '\n') {
    text += '\n';
  }
  return {text, status};
}

int run_command_line(const std::optional<std::vector<std::string>>& argv)
{
  const std::vector<std::string>& arguments = argv ? *argv : g_process_arguments;
  const Parser parser = build_parser(g_version);
  const ParsedArguments args = parser.parse(arguments);
  change_directory(args.str("directory"));
  const std::map<std::string, Handler, std::less<>> handlers = {
    {"requirements", cmd_requirements},
    {"test", cmd_test},
    {"build", cmd_build},
    {"clean", cmd_clean},
    {"lint", cmd_lint},
    {"status", cmd_status},
    {"init", cmd_init},
    {"config-diff", cmd_config_diff},
  };
  return handlers.at(args.str("command"))(args, parser);
}

int program_entry(int argc, char** argv, std::string_view version)
{
  // Before the signal pipe or anything else takes a descriptor.
  platform::hold_closed_standard_streams();
  g_version = std::string(version);
  for (int i = 1; i < argc; ++i) {
    g_process_arguments.emplace_back(argv[i]);
  }
  const platform::InterruptionHandlers interruption_handlers;
  int status = 0;
  std::optional<std::string> lost_output;
  try {
    status = run_command_line();
  } catch (const ExitRequest& request) {
    status = request.status();
  } catch (const std::exception& error) {
    // What the command wrote comes before the report.
    lost_output = finish_standard_output();
    const ErrorReport report = error_report(error);
    std::cerr << report.text << std::flush;
    status = report.status;
  }
  if (!lost_output) {
    lost_output = finish_standard_output();
  }
  // Output that was lost is a failure, whatever the command made of its work.
  if (lost_output) {
    std::cerr << "tolvo: error: " << *lost_output << std::endl;
    status = 1;
  }
  // An error or a failure's output that could not be shown is lost output too.
  std::cerr.flush();
  if (std::cerr.fail()) {
    status = 1;
  }
  // A signal that came after the last child had ended still ends the tool
  // as interrupted, whatever the command made of its work.
  const int signal_number = platform::interruption_signal();
  return signal_number != 0 ? 128 + signal_number : status;
}

} // namespace tolvo::cli
