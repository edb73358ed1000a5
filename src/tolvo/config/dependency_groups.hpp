#pragma once

// PEP 735 dependency groups: the [dependency-groups] table of pyproject.toml
// as written, and a group's requirement strings with its includes expanded.

#include <string>
#include <string_view>
#include <vector>

namespace tolvo::config {

/// One item of a group: a requirement string, `{include-group = "name"}`,
/// or anything else (kept, so that only a use of the group fails on it).
struct DependencyGroupEntry
{
  enum class Kind
  {
    requirement,
    include,
    invalid,
  };
  Kind kind = Kind::requirement;
  /// The requirement string, the included group's name, or the item's text form.
  std::string text;

  bool operator==(const DependencyGroupEntry&) const = default;
};

struct DependencyGroup
{
  /// The name as written.
  std::string name;
  std::vector<DependencyGroupEntry> entries;
};

/// The groups in document order.
using DependencyGroups = std::vector<DependencyGroup>;

/// The group whose name equals `name` once both are PEP 503-normalised, or
/// nullptr.
const DependencyGroup* find_dependency_group(const DependencyGroups& groups, std::string_view name);

/// The requirement strings of group `name`, includes expanded in place,
/// depth first. Throws InvalidValue for an unknown group or include, an
/// include cycle, an invalid item, or two groups whose names normalise alike.
std::vector<std::string> resolve_dependency_group(const DependencyGroups& groups, std::string_view name);

} // namespace tolvo::config
