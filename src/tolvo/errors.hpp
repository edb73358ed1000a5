#pragma once

// The one error hierarchy of tolvo. Every layer throws; only the program
// entry catches and decides what the user sees: "tolvo: error: <message>"
// and status 1 for an Error, the message alone where it is already the
// whole line, and no report for an ExitRequest, which carries its status.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tolvo {

/// Marks a message that is already the whole line the user sees, such as
/// "Error: No wheel found for architecture x86_64".
struct WholeLine
{};

/// Base of every error tolvo reports as "tolvo: error: <what()>", or as
/// "tolvo: error: <context>: <what()>" when it knows where it arose (the
/// message alone, such as a bare value, may not say what was wrong), or as
/// the message alone when it was made with WholeLine.
class Error : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;

  Error(const std::string& message, std::string context)
    : std::runtime_error(message),
      m_context(std::move(context))
  {}

  Error(const std::string& message, WholeLine)
    : std::runtime_error(message),
      m_whole_line(true)
  {}

  const std::string& context() const noexcept { return m_context; }

  bool whole_line() const noexcept { return m_whole_line; }

private:
  std::string m_context;
  bool m_whole_line = false;
};

/// A precondition of an operation does not hold ("Error: Docker is not
/// available"). The message is the whole line; the status is 1.
class PreconditionFailure : public Error
{
public:
  explicit PreconditionFailure(const std::string& line)
    : Error(line, WholeLine{})
  {}
};

/// The command line cannot be parsed. The message is the whole report (the
/// usage, then "<prog>: error: <what was wrong>"); the status is 2.
class UsageError : public Error
{
public:
  explicit UsageError(const std::string& report)
    : Error(report, WholeLine{})
  {}
};

/// A file, directory or wheel that should be there is not.
class NotFoundError : public Error
{
public:
  using Error::Error;
};

/// A required key is absent from a document.
class MissingKeyError : public Error
{
public:
  using Error::Error;
};

/// A value failed a type check; the message is the value in text form.
class AssertionFailure : public Error
{
public:
  using Error::Error;
};

/// A lookup walked into a value that is not a table.
class NotATable : public Error
{
public:
  using Error::Error;
};

/// A value is not acceptable (an unknown extra, a malformed requirement...).
class InvalidValue : public Error
{
public:
  using Error::Error;
};

/// A generic failure of an operation ("sdist build failed").
class OperationFailed : public Error
{
public:
  using Error::Error;
};

/// A case tolvo does not support ("ERROR: Unknown libc ...").
class Unsupported : public Error
{
public:
  using Error::Error;
};

/// A system call failed; the message names the call and the path.
class SystemError : public Error
{
public:
  SystemError(const std::string& message, int error_number)
    : Error(message),
      m_errno(error_number)
  {}

  int error_number() const noexcept { return m_errno; }

private:
  int m_errno;
};

/// A child program could not be started (not found, not executable...).
class StartError : public SystemError
{
public:
  StartError(const std::string& program, const std::string& message, int error_number)
    : SystemError(message, error_number),
      m_program(program)
  {}

  const std::string& program() const noexcept { return m_program; }

private:
  std::string m_program;
};

/// A child ended with a non-zero return code where that is a failure (a
/// quiet step, a container run). The process layer composes the message.
class CalledProcessError : public Error
{
public:
  CalledProcessError(const std::string& message, int returncode, std::vector<std::string> args, std::string stdout_text,
                     std::string stderr_text)
    : Error(message),
      m_returncode(returncode),
      m_args(std::move(args)),
      m_stdout(std::move(stdout_text)),
      m_stderr(std::move(stderr_text))
  {}

  int returncode() const noexcept { return m_returncode; }
  const std::vector<std::string>& args() const noexcept { return m_args; }
  const std::string& stdout_text() const noexcept { return m_stdout; }
  const std::string& stderr_text() const noexcept { return m_stderr; }

private:
  int m_returncode;
  std::vector<std::string> m_args;
  std::string m_stdout;
  std::string m_stderr;
};

/// A request to end the process with `status`, after the operation has
/// printed whatever it had to say. Deliberately not an Error: the entry
/// lets it pass without any further report.
class ExitRequest : public std::exception
{
public:
  explicit ExitRequest(int status) noexcept
    : m_status(status)
  {}

  int status() const noexcept { return m_status; }
  const char* what() const noexcept override { return "exit requested"; }

private:
  int m_status;
};

/// The tool was stopped by a signal (SIGINT, SIGTERM...) and its children have
/// ended: the process ends with 128 + the signal number, as a shell reports
/// a job that the signal ended, and with no report.
class Interrupted : public ExitRequest
{
public:
  explicit Interrupted(int signal_number) noexcept
    : ExitRequest(128 + signal_number),
      m_signal(signal_number)
  {}

  int signal_number() const noexcept { return m_signal; }
  const char* what() const noexcept override { return "interrupted"; }

private:
  int m_signal;
};

} // namespace tolvo
