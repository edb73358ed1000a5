// Usage and help texts of the command-line grammar.

#include "tolvo/cli/grammar.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <sstream>

namespace tolvo::cli {

namespace {

// Help and usage are laid out for an 80-column terminal, leaving a margin.
inline constexpr std::size_t TEXT_WIDTH = 78;
inline constexpr std::size_t MAX_HELP_POSITION = 24;

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

std::string value_metavar(const Parser::Argument& argument)
{
  if (!argument.choices.empty()) {
    return "{" + platform::join(argument.choices, ",") + "}";
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
  case Parser::Kind::remainder:
    return "[-- " + argument.metavar + " ...]";
  }
  return {};
}

std::string invocation(const Parser::Argument& argument)
{
  if (argument.kind == Parser::Kind::remainder) {
    return "-- " + argument.metavar;
  }
  if (Parser::is_positional(argument.kind)) {
    return argument.dest;
  }
  if (argument.kind != Parser::Kind::value) {
    return platform::join(argument.names, ", ");
  }
  std::vector<std::string> parts;
  for (const std::string& name : argument.names) {
    parts.push_back(name + " " + value_metavar(argument));
  }
  return platform::join(parts, ", ");
}

// Lines of parts no wider than the text width. The first line follows a
// prefix of `first_column` characters that the caller writes; every other
// line starts with `indent`.
std::vector<std::string> usage_lines(const std::vector<std::string>& parts, const std::string& indent,
                                     std::size_t first_column, bool first_indented)
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

std::string Parser::commands_metavar() const
{
  std::vector<std::string> names;
  for (const Command& command : m_commands) {
    names.push_back(command.name);
  }
  return "{" + platform::join(names, ",") + "}";
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
  return prefix + platform::join(lines, "\n");
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
    text += "\n" + platform::join(wrap(m_description, TEXT_WIDTH), "\n") + "\n";
  }
  if (!positionals.empty()) {
    text += "\npositional arguments:\n";
    render_entries(text, positionals, help_position);
  }
  text += "\noptions:\n";
  render_entries(text, options, help_position);
  return text;
}

} // namespace tolvo::cli
