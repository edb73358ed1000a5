#pragma once

// PEP 508 environment markers: parsing, normalised text and evaluation.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo {

using MarkerEnvironment = std::map<std::string, std::string>;

/// The marker values of the machine tolvo runs on (computed once).
const MarkerEnvironment& default_marker_environment();

struct MarkerItem
{
  bool lhs_is_variable = false;
  std::string lhs;
  std::string op;
  bool rhs_is_variable = false;
  std::string rhs;
};

/// An atom is a comparison or a parenthesised group; `joins[i]` ("and" or
/// "or") stands between atoms i and i+1.
struct MarkerNode
{
  std::optional<MarkerItem> item;
  std::vector<MarkerNode> atoms;
  std::vector<std::string> joins;
};

class Marker
{
public:
  /// Parses a whole marker; throws ValueError naming the text.
  explicit Marker(std::string_view text);
  explicit Marker(MarkerNode root) : m_root(std::move(root)) {}

  [[nodiscard]] std::string str() const;
  /// Evaluates with the machine's values, `extra` "", overridden by `env`.
  /// Throws ValueError on an undefined comparison or an unknown variable.
  [[nodiscard]] bool evaluate(const MarkerEnvironment& env = {}) const;

  bool operator==(const Marker& other) const { return str() == other.str(); }

private:
  MarkerNode m_root;
};

namespace packaging_detail {

/// Parses a marker expression at `pos` of `text`, stopping where the
/// expression ends; used by the requirement parser.
MarkerNode parse_marker_expression(std::string_view text, std::size_t& pos);

} // namespace packaging_detail

} // namespace tolvo
