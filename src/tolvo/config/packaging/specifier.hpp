#pragma once

// PEP 440 version specifiers and comma-separated specifier sets.

#include "tolvo/config/packaging/version.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::config {

/// The comparison operators, each listed before any operator it begins
/// with, so that the first one a text starts with is the whole operator.
inline constexpr std::array<std::string_view, 8> SPECIFIER_OPERATORS = {"===", "~=", "==", "!=", "<=", ">=", "<", ">"};

class Specifier
{
public:
  /// Parses one "<op><version>"; throws InvalidValue("Invalid specifier: '<text>'").
  explicit Specifier(std::string_view text);
  /// The same parse without the exception, for callers that only ask
  /// whether a text is a specifier.
  static std::optional<Specifier> try_parse(std::string_view text);

  [[nodiscard]] const std::string& op() const { return m_op; }
  /// The version text as written, stripped of surrounding blanks.
  [[nodiscard]] const std::string& version() const { return m_version; }
  [[nodiscard]] std::string str() const { return m_op + m_version; }
  /// Whether a pre-release is named, so pre-releases are admitted.
  [[nodiscard]] bool names_prerelease() const;
  [[nodiscard]] bool contains(const Version& item) const;

private:
  Specifier() = default;
  /// Fills the fields from `text`; false when it is no specifier.
  bool parse(std::string_view text);

  std::string m_op;
  std::string m_version;
};

class SpecifierSet
{
public:
  SpecifierSet() = default;
  explicit SpecifierSet(std::string_view text);

  [[nodiscard]] auto begin() const { return m_specs.begin(); }
  [[nodiscard]] auto end() const { return m_specs.end(); }
  [[nodiscard]] bool empty() const { return m_specs.empty(); }
  [[nodiscard]] std::size_t size() const { return m_specs.size(); }
  /// Members' texts, unique, sorted and joined by ",".
  [[nodiscard]] std::string str() const;
  /// Whether every member admits `v`; a lone pre-release candidate counts.
  [[nodiscard]] bool contains(const Version& v) const;
  [[nodiscard]] bool contains(const Version& v, bool prereleases) const;

private:
  std::vector<Specifier> m_specs;
};

} // namespace tolvo::config
