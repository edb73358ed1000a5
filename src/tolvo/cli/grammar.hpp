#pragma once

// A small command-line grammar in the shape users know from Python tools:
// flags, one-value options, choices, optional and repeated positionals,
// sub-commands, -h/--help and --version, unique-prefix long options. A usage
// error throws UsageError carrying the usage and "<prog>: error: <msg>";
// help and version print and throw ExitRequest(0).

#include "tolvo/cli/parsed_arguments.hpp"

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::cli {

class Parser
{
public:
  enum class Kind
  {
    help,
    version,
    flag,
    value,
    optional_positional,
    repeated_positional,
    /// Everything after "--", kept as given.
    remainder,
  };

  struct Argument
  {
    Kind kind = Kind::flag;
    std::vector<std::string> names; // option strings; empty for positionals
    std::string dest;
    Value default_value;
    std::vector<std::string> choices;
    std::string metavar;
    std::string help;
  };

  explicit Parser(std::string prog, std::string description = {});

  /// A boolean option, false unless given.
  void add_flag(std::vector<std::string> names, std::string dest, std::string help);
  /// An option taking one value (`--opt value` or `--opt=value`).
  void add_option(std::vector<std::string> names, std::string dest, Value default_value, std::string help,
                  std::vector<std::string> choices = {}, std::string metavar = {});
  /// `--version`: prints `text` and a line break on standard output.
  void add_version(std::string text);
  /// A positional taking zero or one value; `default_value` may be missing.
  void add_optional_positional(std::string dest, Value default_value, std::string help);
  /// A positional taking zero or more values.
  void add_repeated_positional(std::string dest, std::string help);
  /// The arguments after "--", as a list (empty without "--"). A parser
  /// without one treats "--" as the end of its options only.
  void add_remainder(std::string dest, std::string metavar, std::string help);

  /// Makes the parser require a command, stored under `dest`.
  void set_command_dest(std::string dest);
  /// Adds a command and returns its parser (program name "<prog> <name>").
  Parser& add_command(const std::string& name, std::string help);

  /// Where help and version texts go (this parser and its commands).
  void set_output(std::ostream& out);

  ParsedArguments parse(const std::vector<std::string>& arguments) const;

  std::string format_usage() const;
  std::string format_help() const;

  /// The parser of command `name`; throws std::out_of_range for another name.
  const Parser& command(std::string_view name) const;
  /// Throws the UsageError a failed parse throws, for a check a handler
  /// makes on arguments that parsed.
  [[noreturn]] void error(const std::string& message) const;

  const std::string& prog() const noexcept { return m_prog; }

  static bool is_positional(Kind kind) noexcept
  {
    return kind == Kind::optional_positional || kind == Kind::repeated_positional || kind == Kind::remainder;
  }

private:
  struct Command
  {
    std::string name;
    std::string help;
    std::unique_ptr<Parser> parser;
  };

  void parse_into(const std::vector<std::string>& arguments, std::size_t start, ParsedArguments& result) const;
  [[noreturn]] void fail(const std::string& message) const;
  const Argument* find_option(const std::string& name, const std::string& token) const;
  void check_choice(const Argument& argument, const std::string& value) const;
  std::string commands_metavar() const;

  std::string m_prog;
  std::string m_description;
  std::vector<Argument> m_arguments;
  std::string m_command_dest;
  std::vector<Command> m_commands;
  std::ostream* m_out;
};

} // namespace tolvo::cli
