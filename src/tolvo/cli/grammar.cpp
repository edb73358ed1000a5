#include "tolvo/cli/grammar.hpp"

#include "tolvo/errors.hpp"

#include <algorithm>
#include <iostream>
#include <sstream>

namespace tolvo::cli {

namespace {

// Help and usage are laid out for an 80-column terminal, leaving a margin.
inline constexpr std::size_t TEXT_WIDTH = 78;
inline constexpr std::size_t MAX_HELP_POSITION = 24;

std::string join(const std::vector<std::string>& parts, const std::string& separator)
{
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      text += separator;
    }
    text += parts[i];
  }
  return text;
}

std::string quoted(const std::string& text)
{
  return "'" + text + "'";
}

std::vector<std::string> split_words(const std::string& text)
{
  std::vector<std::string> words;
  std::istringstream stream(text);
  std::string word;
  while (stream >> word) {
    words.push_back(word);
  }
  return words;
}

// Greedy word wrap; a word longer than the width gets a line of its own.
std::vector<std::string> wrap(const std::string& text, std::size_t width)
{
  std::vector<std::string> lines;
  std::string line;
  for (const std::string& word : split_words(text)) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) {
    lines.push_back(line);
  }
  return lines;
}

bool is_positional(Parser::Kind kind)
{
  return kind == Parser::Kind::optional_positional || kind == Parser::Kind::repeated_positional;
}

std::string value_metavar(const Parser::Argument& argument)
{
  if (!argument.choices.empty()) {
    return "{" + join(argument.choices, ",") + "}";
  }
  return argument.metavar;
}

std::string usage_part(const Parser::Argument& argument)
{
  switch (argument.kind) {
  case Parser::Kind::help:
  case Parser::Kind::version:
  case Parser::Kind::flag:
    return "[" + argument.names.front() + "]";
  case Parser::Kind::value:
    return "[" + argument.names.front() + " " + value_metavar(argument) + "]";
  case Parser::Kind::optional_positional:
    return "[" + argument.dest + "]";
  case Parser::Kind::repeated_positional:
    return "[" + argument.dest + " ...]";
  }
  return {};
}

std::string invocation(const Parser::Argument& argument)
{
  if (is_positional(argument.kind)) {
    return argument.dest;
  }
  if (argument.kind != Parser::Kind::value) {
    return join(argument.names, ", ");
  }
  std::vector<std::string> parts;
  for (const std::string& name : argument.names) {
    parts.push_back(name + " " + value_metavar(argument));
  }
  return join(parts, ", ");
}

// Lines of parts no wider than the text width. The first line follows a
// prefix of `first_column` characters that the caller writes; every other
// line starts with `indent`.
std::vector<std::string> usage_lines(const std::vector<std::string>& parts,
                                     const std::string& indent,
                                     std::size_t first_column,
                                     bool first_indented)
{
  std::vector<std::string> lines;
  std::string line = first_indented ? indent : std::string();
  std::size_t column = first_indented ? indent.size() : first_column;
  bool empty = true;
  for (const std::string& part : parts) {
    if (!empty && column + 1 + part.size() > TEXT_WIDTH) {
      lines.push_back(line);
      line = indent;
      column = indent.size();
      empty = true;
    }
    if (!empty) {
      line += " ";
      ++column;
    }
    line += part;
    column += part.size();
    empty = false;
  }
  if (!empty) {
    lines.push_back(line);
  }
  return lines;
}

struct HelpEntry
{
  std::string invocation;
  std::string help;
  std::size_t indent;
};

void render_entries(std::string& text, const std::vector<HelpEntry>& entries, std::size_t help_position)
{
  const std::size_t help_width = std::max<std::size_t>(TEXT_WIDTH - help_position, 11);
  for (const HelpEntry& entry : entries) {
    const std::string header = std::string(entry.indent, ' ') + entry.invocation;
    const std::vector<std::string> help_lines = wrap(entry.help, help_width);
    if (help_lines.empty()) {
      text += header + "\n";
      continue;
    }
    std::size_t first = 0;
    if (header.size() + 2 <= help_position) {
      text += header + std::string(help_position - header.size(), ' ') + help_lines[0] + "\n";
      first = 1;
    } else {
      text += header + "\n";
    }
    for (std::size_t i = first; i < help_lines.size(); ++i) {
      text += std::string(help_position, ' ') + help_lines[i] + "\n";
    }
  }
}

} // namespace

Parser::Parser(std::string prog, std::string description)
  : m_prog(std::move(prog)),
    m_description(std::move(description)),
    m_out(&std::cout),
    m_err(&std::cerr)
{
  m_arguments.push_back(Argument{Kind::help, {"-h", "--help"}, {}, {}, {}, {}, "show this help message and exit"});
}

void Parser::add_flag(std::vector<std::string> names, std::string dest, std::string help)
{
  m_arguments.push_back(Argument{Kind::flag, std::move(names), std::move(dest), false, {}, {}, std::move(help)});
}

void Parser::add_option(std::vector<std::string> names,
                        std::string dest,
                        Value default_value,
                        std::string help,
                        std::vector<std::string> choices,
                        std::string metavar)
{
  if (metavar.empty()) {
    metavar = dest;
    std::transform(metavar.begin(), metavar.end(), metavar.begin(), [](unsigned char c) {
      return static_cast<char>(std::toupper(c));
    });
  }
  m_arguments.push_back(Argument{Kind::value,
                                 std::move(names),
                                 std::move(dest),
                                 std::move(default_value),
                                 std::move(choices),
                                 std::move(metavar),
                                 std::move(help)});
}

void Parser::add_version(std::string text)
{
  // The version text travels in `default_value`; the action has no field.
  m_arguments.push_back(
    Argument{Kind::version, {"--version"}, {}, std::move(text), {}, {}, "show program's version number and exit"});
}

void Parser::add_optional_positional(std::string dest, std::string default_value, std::string help)
{
  m_arguments.push_back(
    Argument{Kind::optional_positional, {}, std::move(dest), std::move(default_value), {}, {}, std::move(help)});
}

void Parser::add_repeated_positional(std::string dest, std::string help)
{
  m_arguments.push_back(Argument{
    Kind::repeated_positional, {}, std::move(dest), std::vector<std::string>{}, {}, {}, std::move(help)});
}

void Parser::set_command_dest(std::string dest)
{
  m_command_dest = std::move(dest);
}

Parser& Parser::add_command(const std::string& name, std::string help)
{
  auto parser = std::make_unique<Parser>(m_prog + " " + name);
  parser->m_out = m_out;
  parser->m_err = m_err;
  m_commands.push_back(Command{name, std::move(help), std::move(parser)});
  return *m_commands.back().parser;
}

void Parser::set_streams(std::ostream& out, std::ostream& err)
{
  m_out = &out;
  m_err = &err;
  for (Command& command : m_commands) {
    command.parser->set_streams(out, err);
  }
}

std::string Parser::commands_metavar() const
{
  std::vector<std::string> names;
  for (const Command& command : m_commands) {
    names.push_back(command.name);
  }
  return "{" + join(names, ",") + "}";
}

std::string Parser::format_usage() const
{
  const std::string prefix = "usage: ";
  std::vector<std::string> optional_parts;
  std::vector<std::string> positional_parts;
  for (const Argument& argument : m_arguments) {
    (is_positional(argument.kind) ? positional_parts : optional_parts).push_back(usage_part(argument));
  }
  if (!m_commands.empty()) {
    positional_parts.push_back(commands_metavar() + " ...");
  }
  std::vector<std::string> all_parts = optional_parts;
  all_parts.insert(all_parts.end(), positional_parts.begin(), positional_parts.end());
  std::string one_line = prefix + m_prog;
  for (const std::string& part : all_parts) {
    one_line += " " + part;
  }
  if (one_line.size() <= TEXT_WIDTH) {
    return one_line;
  }
  // Too long: options wrapped after the program name, positionals on lines
  // of their own, both aligned under the first option.
  const std::string indent(prefix.size() + m_prog.size() + 1, ' ');
  std::vector<std::string> lines;
  if (!optional_parts.empty()) {
    std::vector<std::string> first = {m_prog};
    first.insert(first.end(), optional_parts.begin(), optional_parts.end());
    lines = usage_lines(first, indent, prefix.size(), false);
    const std::vector<std::string> rest = usage_lines(positional_parts, indent, 0, true);
    lines.insert(lines.end(), rest.begin(), rest.end());
  } else {
    std::vector<std::string> first = {m_prog};
    first.insert(first.end(), positional_parts.begin(), positional_parts.end());
    lines = usage_lines(first, indent, prefix.size(), false);
  }
  return prefix + join(lines, "\n");
}

std::string Parser::format_help() const
{
  std::vector<HelpEntry> positionals;
  std::vector<HelpEntry> options;
  for (const Argument& argument : m_arguments) {
    (is_positional(argument.kind) ? positionals : options).push_back(HelpEntry{invocation(argument), argument.help, 2});
  }
  if (!m_commands.empty()) {
    positionals.push_back(HelpEntry{commands_metavar(), {}, 2});
    for (const Command& command : m_commands) {
      positionals.push_back(HelpEntry{command.name, command.help, 4});
    }
  }
  std::size_t longest = 0;
  for (const auto* entries : {&positionals, &options}) {
    for (const HelpEntry& entry : *entries) {
      longest = std::max(longest, entry.indent + entry.invocation.size());
    }
  }
  const std::size_t help_position = std::min(longest + 2, MAX_HELP_POSITION);

  std::string text = format_usage() + "\n";
  if (!m_description.empty()) {
    text += "\n" + join(wrap(m_description, TEXT_WIDTH), "\n") + "\n";
  }
  if (!positionals.empty()) {
    text += "\npositional arguments:\n";
    render_entries(text, positionals, help_position);
  }
  text += "\noptions:\n";
  render_entries(text, options, help_position);
  return text;
}

void Parser::fail(const std::string& message) const
{
  *m_out << std::flush;
  *m_err << format_usage() << "\n" << m_prog << ": error: " << message << "\n" << std::flush;
  throw ExitRequest(2);
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
    fail("ambiguous option: " + token + " could match " + join(candidates, ", "));
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
  fail("argument " + join(argument.names, "/") + ": invalid choice: " + quoted(value) + " (choose from " +
       join(listed, ", ") + ")");
}

Namespace Parser::parse(const std::vector<std::string>& arguments) const
{
  Namespace result;
  parse_into(arguments, 0, result);
  return result;
}

void Parser::parse_into(const std::vector<std::string>& arguments, std::size_t start, Namespace& result) const
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
      const auto command = std::find_if(m_commands.begin(), m_commands.end(), [&](const Command& candidate) {
        return candidate.name == token;
      });
      if (command == m_commands.end()) {
        std::vector<std::string> listed;
        for (const Command& candidate : m_commands) {
          listed.push_back(quoted(candidate.name));
        }
        fail("argument " + m_command_dest + ": invalid choice: " + quoted(token) + " (choose from " +
             join(listed, ", ") + ")");
      }
      result.set(m_command_dest, command->name);
      // Everything after the command name belongs to the command.
      command->parser->parse_into(arguments, i + 1, result);
      if (!unrecognized.empty()) {
        fail("unrecognized arguments: " + join(unrecognized, " "));
      }
      return;
    }
    if (token == "--") {
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
      // A short option with its value joined to it: -Cdir.
      name = token.substr(0, 2);
      attached = token.substr(2);
    }
    const Argument* argument = find_option(name, token);
    if (argument == nullptr) {
      unrecognized.push_back(token);
      continue;
    }
    const std::string shown = join(argument->names, "/");
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
      result.set(argument.dest,
                 std::vector<std::string>(positional_values.begin() + static_cast<std::ptrdiff_t>(next),
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
    fail("unrecognized arguments: " + join(unrecognized, " "));
  }
}

} // namespace tolvo::cli
