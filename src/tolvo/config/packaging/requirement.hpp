#pragma once

// PEP 508 requirement strings: name, extras, version bounds, URL and marker.

#include "tolvo/config/packaging/marker.hpp"
#include "tolvo/config/packaging/specifier.hpp"

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tolvo::config {

class Requirement
{
public:
  /// Parses `text`; throws InvalidValue naming the text when malformed.
  explicit Requirement(std::string_view text);

  std::string name;
  std::set<std::string> extras;
  SpecifierSet specifier;
  std::string url;
  std::optional<Marker> marker;

  /// Normalised text: name[extras]specifiers; marker (or "name @ url ; marker").
  [[nodiscard]] std::string str() const;
};

} // namespace tolvo::config
