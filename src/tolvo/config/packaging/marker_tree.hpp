#pragma once

// The parse tree of an environment marker. Internal to the packaging code:
// the requirement parser reads a marker in the middle of its text, and the
// marker code formats and evaluates the tree.

#include "tolvo/config/packaging/marker.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::config {

/// One comparison: a variable or quoted value on each side of an operator.
struct MarkerItem
{
  bool lhs_is_variable = false;
  std::string lhs;
  std::string op;
  bool rhs_is_variable = false;
  std::string rhs;
};

/// A comparison, or a group of atoms where `joins[i]` ("and" or "or")
/// stands between atoms i and i+1. The marker's root is a group; a
/// parenthesised group is an atom of its parent.
struct MarkerNode
{
  std::optional<MarkerItem> item;
  std::vector<MarkerNode> atoms;
  std::vector<std::string> joins;
};

/// Parses a marker expression at `pos` of `text`, stopping where the
/// expression ends. Throws InvalidValue naming the text.
MarkerNode parse_marker_expression(std::string_view text, std::size_t& pos);

/// A marker made from a parsed tree.
Marker marker_from_tree(MarkerNode root);

} // namespace tolvo::config
