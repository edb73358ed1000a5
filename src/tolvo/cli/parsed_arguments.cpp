#include "tolvo/cli/parsed_arguments.hpp"

#include <stdexcept>

namespace tolvo::cli {

void ParsedArguments::set(std::string dest, Value value)
{
  m_values.insert_or_assign(std::move(dest), std::move(value));
}

bool ParsedArguments::has(std::string_view dest) const
{
  return m_values.find(dest) != m_values.end();
}

const Value& ParsedArguments::get(std::string_view dest) const
{
  const auto it = m_values.find(dest);
  if (it == m_values.end()) {
    // A handler asked for a field its command does not declare: a bug in
    // tolvo, not in the user's input.
    throw std::logic_error("no argument named '" + std::string(dest) + "'");
  }
  return it->second;
}

bool ParsedArguments::flag(std::string_view dest) const
{
  return std::get<bool>(get(dest));
}

const std::string& ParsedArguments::str(std::string_view dest) const
{
  return std::get<std::string>(get(dest));
}

std::optional<std::string> ParsedArguments::opt(std::string_view dest) const
{
  const Value& value = get(dest);
  if (const auto* text = std::get_if<std::string>(&value)) {
    return *text;
  }
  return std::nullopt;
}

const std::vector<std::string>& ParsedArguments::list(std::string_view dest) const
{
  return std::get<std::vector<std::string>>(get(dest));
}

} // namespace tolvo::cli
