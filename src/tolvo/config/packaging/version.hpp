#pragma once

// PEP 440 versions: parsing with the standard's normalisation, the total
// order, and the normalised text.

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvo::config {

class Version
{
public:
  /// Parses `text`; throws InvalidValue("Invalid version: '<text>'").
  explicit Version(std::string_view text);

  /// Whether `text` parses as a version, without throwing.
  static std::optional<Version> try_parse(std::string_view text);

  [[nodiscard]] std::string str() const;
  [[nodiscard]] std::string public_str() const;
  [[nodiscard]] std::string base_version() const;
  /// The version this is a post-release of: 1.0a1.post2.dev3 -> 1.0a1.
  [[nodiscard]] Version post_base() const;
  /// The earliest pre-release of this version: 1.2 -> 1.2.dev0.
  [[nodiscard]] Version earliest_prerelease() const;
  [[nodiscard]] bool is_prerelease() const { return m_pre.has_value() || m_dev.has_value(); }
  [[nodiscard]] bool is_postrelease() const { return m_post.has_value(); }
  [[nodiscard]] bool has_local() const { return !m_local.empty(); }
  [[nodiscard]] const std::string& epoch() const { return m_epoch; }
  [[nodiscard]] const std::vector<std::string>& release() const { return m_release; }

  std::strong_ordering operator<=>(const Version& other) const;
  bool operator==(const Version& other) const { return (*this <=> other) == 0; }

private:
  Version() = default;
  static bool parse_into(std::string_view text, Version& out);

  // Numbers are kept as digit strings without leading zeros, so that any
  // length compares correctly.
  std::string m_epoch{"0"};
  std::vector<std::string> m_release;
  std::optional<std::pair<std::string, std::string>> m_pre;
  std::optional<std::string> m_post;
  std::optional<std::string> m_dev;
  std::vector<std::string> m_local;
};

/// Compares two digit strings without leading zeros as numbers.
std::strong_ordering compare_numbers(const std::string& a, const std::string& b);

} // namespace tolvo::config
