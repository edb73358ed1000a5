#include "tolvo/cli/grammar.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <iostream>
#include <sstream>

namespace tolvo::cli {

namespace {

std::string quoted(const std::string& text)
{
  return "'" + text + "'";
}

} // namespace

Parser::Parser(std::string prog, std::string description)
  : m_prog(std::move(prog)),
    m_description(std::move(description)),
    m_out(&std::cout)
{
  m_arguments.push_back(Argument{Kind::help, {"-h", "--help"}, {}, {}, {}, {}, "show this help message and exit"});
}

void Parser::add_flag(std::vector<std::string> names, std::string dest, std::string help)
{
  m_arguments.push_back(Argument{Kind::flag, std::move(names), std::move(dest), false, {}, {}, std::move(help)});
}

void Parser::add_option(std::vector<std::string> names, std::string dest, Value default_value, std::string help,
                        std::vector<std::string> choices, std::string metavar)
{
  if (metavar.empty()) {
    metavar = dest;
    std::transform(metavar.begin(), metavar.end(), metavar.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  }
  m_arguments.push_back(Argument{Kind::value, std::move(names), std::move(dest), std::move(default_value),
                                 std::move(choices), std::move(metavar), std::move(help)});
}

void Parser::add_version(std::string text)
{
  // The version text travels in `default_value`; the action has no field.
  m_arguments.push_back(
    Argument{Kind::version, {"--version"}, {}, std::move(text), {}, {}, "show program's version number and exit"});
}

void Parser::add_optional_positional(std::string dest, Value default_value, std::string help)
{
  m_arguments.push_back(
    Argument{Kind::optional_positional, {}, std::move(dest), std::move(default_value), {}, {}, std::move(help)});
}

void Parser::add_repeated_positional(std::string dest, std::string help)
{
  m_arguments.push_back(
    Argument{Kind::repeated_positional, {}, std::move(dest), std::vector<std::string>{}, {}, {}, std::move(help)});
}

void Parser::add_remainder(std::string dest, std::string metavar, std::string help)
{
  m_arguments.push_back(Argument{
    Kind::remainder, {}, std::move(dest), std::vector<std::string>{}, {}, std::move(metavar), std::move(help)});
}

void Parser::set_command_dest(std::string dest)
{
  m_command_dest = std::move(dest);
}

Parser& Parser::add_command(const std::string& name, std::string help)
{
  auto parser = std::make_unique<Parser>(m_prog + " " + name);
  parser->m_out = m_out;
  m_commands.push_back(Command{name, std::move(help), std::move(parser)});
  return *m_commands.back().parser;
}

void Parser::set_output(std::ostream& out)
{
  m_out = &out;
  for (Command& command : m_commands) {
    command.parser->set_output(out);
  }
}

const Parser& Parser::command(std::string_view name) const
{
  for (const Command& command : m_commands) {
    if (command.name == name) {
      return *command.parser;
    }
  }
  throw std::out_of_range("no command " + std::string(name));
}

void Parser::error(const std::string& message) const
{
  fail(message);
}

void Parser::fail(const std::string& message) const
{
  throw UsageError(format_usage() + "\n" + m_prog + ": error: " + message + "\n");
}

const Parser::Argument* Parser::find_option(const std::string& name, const std::string& token) const
{
  for (const Argument& argument : m_arguments) {
    if (std::find(argument.names.begin(), argument.names.end(), name) != argument.names.end()) {
      return &argument;
    }
  }
  if (name.size() <= 2 || name.compare(0, 2, "--") != 0) {
    return nullptr;
  }
  const Argument* match = nullptr;
  std::vector<std::string> candidates;
  for (const Argument& argument : m_arguments) {
    for (const std::string& option : argument.names) {
      if (option.size() > 2 && option.compare(0, 2, "--") == 0 && option.compare(0, name.size(), name) == 0) {
        match = &argument;
        candidates.push_back(option);
      }
    }
  }
  if (candidates.size() > 1) {
    fail("ambiguous option: " + token + " could match " + platform::join(candidates, ", "));
  }
  return match;
}

void Parser::check_choice(const Argument& argument, const std::string& value) const
{
  if (argument.choices.empty() ||
      std::find(argument.choices.begin(), argument.choices.end(), value) != argument.choices.end()) {
    return;
  }
  std::vector<std::string> listed;
  for (const std::string& choice : argument.choices) {
    listed.push_back(quoted(choice));
  }
  fail("argument " + platform::join(argument.names, "/") + ": invalid choice: " + quoted(value) + " (choose from " +
       platform::join(listed, ", ") + ")");
}

ParsedArguments Parser::parse(const std::vector<std::string>& arguments) const
{
  ParsedArguments result;
  parse_into(arguments, 0, result);
  return result;
}

void Parser::parse_into(const std::vector<std::string>& arguments, std::size_t start, ParsedArguments& result) const
{
  for (const Argument& argument : m_arguments) {
    if (!argument.dest.empty()) {
      result.set(argument.dest, argument.default_value);
    }
  }
  std::vector<std::string> positional_values;
  std::vector<std::string> unrecognized;
  bool only_positionals = false;
  for (std::size_t i = start; i < arguments.size(); ++i) {
    const std::string& token = arguments[i];
    const bool option_like = !only_positionals && token.size() > 1 && token[0] == '-';
    if (!option_like) {
      if (m_commands.empty()) {
        positional_values.push_back(token);
        continue;
      }
      const auto command = std::find_if(m_commands.begin(), m_commands.end(),
                                        [&](const Command& candidate) { return candidate.name == token; });
      if (command == m_commands.end()) {
        std::vector<std::string> listed;
        for (const Command& candidate : m_commands) {
          listed.push_back(quoted(candidate.name));
        }
        fail("argument " + m_command_dest + ": invalid choice: " + quoted(token) + " (choose from " +
             platform::join(listed, ", ") + ")");
      }
      result.set(m_command_dest, command->name);
      // Everything after the command name belongs to the command.
      command->parser->parse_into(arguments, i + 1, result);
      if (!unrecognized.empty()) {
        fail("unrecognized arguments: " + platform::join(unrecognized, " "));
      }
      return;
    }
    if (token == "--") {
      const auto remainder = std::find_if(m_arguments.begin(), m_arguments.end(),
                                          [](const Argument& argument) { return argument.kind == Kind::remainder; });
      if (remainder != m_arguments.end()) {
        result.set(remainder->dest,
                   std::vector<std::string>(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end()));
        break;
      }
      only_positionals = true;
      continue;
    }
    std::string name = token;
    std::optional<std::string> attached;
    if (token.compare(0, 2, "--") == 0) {
      if (const auto equals = token.find('='); equals != std::string::npos) {
        name = token.substr(0, equals);
        attached = token.substr(equals + 1);
      }
    } else if (token.size() > 2) {
      // A short option with its value joined to it: -Cdir or -C=dir.
      name = token.substr(0, 2);
      attached = token.substr(token[2] == '=' ? 3 : 2);
    }
    const Argument* argument = find_option(name, token);
    if (argument == nullptr) {
      unrecognized.push_back(token);
      continue;
    }
    const std::string shown = platform::join(argument->names, "/");
    if (argument->kind != Kind::value) {
      if (attached) {
        if (token.compare(0, 2, "--") != 0) {
          // Short flags may not carry a value; treat the token as unknown.
          unrecognized.push_back(token);
          continue;
        }
        fail("argument " + shown + ": ignored explicit argument " + quoted(*attached));
      }
      if (argument->kind == Kind::help) {
        *m_out << format_help() << std::flush;
        throw ExitRequest(0);
      }
      if (argument->kind == Kind::version) {
        *m_out << std::get<std::string>(argument->default_value) << "\n" << std::flush;
        throw ExitRequest(0);
      }
      result.set(argument->dest, true);
      continue;
    }
    std::string value;
    if (attached) {
      value = *attached;
    } else {
      const bool next_is_value =
        i + 1 < arguments.size() && !(arguments[i + 1].size() > 1 && arguments[i + 1][0] == '-');
      if (!next_is_value) {
        fail("argument " + shown + ": expected one argument");
      }
      value = arguments[++i];
    }
    check_choice(*argument, value);
    result.set(argument->dest, value);
  }

  std::size_t next = 0;
  for (const Argument& argument : m_arguments) {
    if (argument.kind == Kind::optional_positional && next < positional_values.size()) {
      result.set(argument.dest, positional_values[next++]);
    } else if (argument.kind == Kind::repeated_positional) {
      result.set(argument.dest, std::vector<std::string>(positional_values.begin() + static_cast<std::ptrdiff_t>(next),
                                                         positional_values.end()));
      next = positional_values.size();
    }
  }
  unrecognized.insert(unrecognized.end(), positional_values.begin() + static_cast<std::ptrdiff_t>(next),
                      positional_values.end());
  if (!m_commands.empty()) {
    fail("the following arguments are required: " + m_command_dest);
  }
  if (!unrecognized.empty()) {
    fail("unrecognized arguments: " + platform::join(unrecognized, " "));
  }
}

} // namespace tolvo::cli
