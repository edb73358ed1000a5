#pragma once

// The parsed command line: the fields of the chosen command, named by their
// destinations, plus `directory` and `command`.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvo::cli {

/// Missing, a flag, a value, or a list of values.
using Value = std::variant<std::monostate, bool, std::string, std::vector<std::string>>;

class ParsedArguments
{
public:
  void set(std::string dest, Value value);

  /// Whether the field exists at all (it does for every argument of the
  /// chosen command, missing values included).
  bool has(std::string_view dest) const;

  /// A flag's value.
  bool flag(std::string_view dest) const;
  /// A value that is never missing (it has a default).
  const std::string& str(std::string_view dest) const;
  /// A value that may be missing.
  std::optional<std::string> opt(std::string_view dest) const;
  /// A list of values (zero or more positionals).
  const std::vector<std::string>& list(std::string_view dest) const;

  const std::map<std::string, Value, std::less<>>& values() const noexcept { return m_values; }

private:
  const Value& get(std::string_view dest) const;

  std::map<std::string, Value, std::less<>> m_values;
};

} // namespace tolvo::cli
