#pragma once

// PEP 508 environment markers: parsing, normalised text and evaluation.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tolvo::config {

using MarkerEnvironment = std::map<std::string, std::string>;

/// The deepest parentheses may nest in a marker. The parser and every walk
/// of the tree recurse once per level; a marker of 1,600 nested groups
/// overflowed a 1 MiB stack. Real markers nest two or three deep, and
/// Python's packaging gives up past about 450.
inline constexpr std::size_t MARKER_MAX_NESTING = 100;

/// The marker values of the machine tolvo runs on (computed once).
const MarkerEnvironment& default_marker_environment();

struct MarkerNode;

class Marker
{
public:
  /// Parses a whole marker; throws InvalidValue naming the text, also when
  /// parentheses nest more than MARKER_MAX_NESTING deep.
  explicit Marker(std::string_view text);

  /// Normalised text: single blanks between terms, values in double quotes,
  /// parentheses only where they change the meaning.
  [[nodiscard]] std::string str() const;
  /// Evaluates with the machine's values, `extra` "", overridden by `env`.
  /// Throws InvalidValue on an undefined comparison or an unknown variable.
  [[nodiscard]] bool evaluate(const MarkerEnvironment& env = {}) const;
  /// The normalised names the marker compares `extra` with, when it does so
  /// only with "==" and "!=", so that it means the same with every other
  /// name. Empty when `extra` is not named; none when it is compared otherwise.
  [[nodiscard]] std::optional<std::set<std::string>> extra_names() const;

  bool operator==(const Marker& other) const { return str() == other.str(); }

private:
  friend Marker marker_from_tree(MarkerNode root);
  explicit Marker(std::shared_ptr<const MarkerNode> root);

  // Shared: a marker is immutable once parsed, and copies are common.
  std::shared_ptr<const MarkerNode> m_root;
};

} // namespace tolvo::config
