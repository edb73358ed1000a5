#include "tolvo/config/packaging/specifier.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace tolvo::config {

namespace {

// Prefix match of `v` against the release in `prefix` (".*" removed):
// same epoch, and the release padded with zeros starts with it.
bool prefix_match(const Version& v, const Version& prefix)
{
  if (v.epoch() != prefix.epoch()) {
    return false;
  }
  const auto& want = prefix.release();
  const auto& have = v.release();
  for (std::size_t i = 0; i < want.size(); ++i) {
    const std::string& h = i < have.size() ? have[i] : std::string("0");
    if (h != want[i]) {
      return false;
    }
  }
  return true;
}

// Whether two versions share epoch and release (1.0rc1 and 1.0.0.post2 do).
bool same_base_release(const Version& a, const Version& b)
{
  return Version(a.base_version()) == Version(b.base_version());
}

bool starts_with_suffix(std::string_view item)
{
  for (std::string_view p : {"dev", "a", "b", "rc", "post"}) {
    if (item.substr(0, p.size()) == p) {
      return true;
    }
  }
  return false;
}

// The release prefix "~=" compares against, split into release numbers and
// the pre-release parts glued to them, so that spellings such as "2.2.r1"
// keep the meaning installers give them.
std::string compatible_prefix(const std::string& spec)
{
  std::vector<std::string> items;
  std::string epoch = "0";
  std::string rest = spec;
  if (auto bang = spec.rfind('!'); bang != std::string::npos) {
    epoch = spec.substr(0, bang);
    rest = spec.substr(bang + 1);
  }
  items.push_back(epoch);
  std::size_t start = 0;
  while (true) {
    std::size_t dot = rest.find('.', start);
    std::string item = rest.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    // "2rc1" splits into "2" and "rc1".
    std::size_t d = 0;
    while (d < item.size() && std::isdigit(static_cast<unsigned char>(item[d])) != 0) {
      ++d;
    }
    std::string tail = item.substr(d);
    bool glued = false;
    if (d > 0 && !tail.empty()) {
      for (std::string_view l : {"rc", "a", "b", "c"}) {
        if (tail.substr(0, l.size()) == l && tail.size() > l.size() &&
            std::all_of(tail.begin() + static_cast<std::ptrdiff_t>(l.size()), tail.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
          glued = true;
          break;
        }
      }
    }
    if (glued) {
      items.push_back(item.substr(0, d));
      items.push_back(tail);
    } else {
      items.push_back(item);
    }
    if (dot == std::string::npos) {
      break;
    }
    start = dot + 1;
  }
  std::vector<std::string> kept;
  for (const auto& item : items) {
    if (starts_with_suffix(item)) {
      break;
    }
    kept.push_back(item);
  }
  if (!kept.empty()) {
    kept.pop_back();
  }
  std::string out;
  for (std::size_t i = 1; i < kept.size(); ++i) {
    out += (i == 1 ? "" : ".") + kept[i];
  }
  if (!kept.empty() && kept[0] != "0") {
    out = kept[0] + "!" + out;
  }
  return out;
}

} // namespace

bool Specifier::parse(std::string_view text)
{
  std::string_view s = platform::strip(text);
  for (std::string_view op : SPECIFIER_OPERATORS) {
    if (s.substr(0, op.size()) == op) {
      m_op = op;
      break;
    }
  }
  if (m_op.empty()) {
    return false;
  }
  std::string_view v = platform::strip(s.substr(m_op.size()));
  m_version = v;
  if (m_op == "===") {
    // Arbitrary equality: anything without blanks, ";" or ")".
    return v.find_first_of(" \t\n\r\f\v;)") == std::string_view::npos;
  }
  if (v.empty() || std::isspace(static_cast<unsigned char>(v.front())) != 0) {
    return false;
  }
  bool wildcard = v.size() >= 2 && v.substr(v.size() - 2) == ".*";
  if (wildcard) {
    if (m_op != "==" && m_op != "!=") {
      return false;
    }
    // Only a plain release may precede the wildcard.
    std::string_view rel = v.substr(0, v.size() - 2);
    if (!rel.empty() && (rel.front() == 'v' || rel.front() == 'V')) {
      rel.remove_prefix(1);
    }
    if (auto bang = rel.find('!'); bang != std::string_view::npos) {
      std::string_view ep = rel.substr(0, bang);
      if (ep.empty() || !std::all_of(ep.begin(), ep.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
      }
      rel = rel.substr(bang + 1);
    }
    return !rel.empty() && rel.front() != '.' && rel.back() != '.' && rel.find("..") == std::string_view::npos &&
           std::all_of(rel.begin(), rel.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
  }
  if (v.find_first_of(" \t") != std::string_view::npos) {
    return false;
  }
  auto parsed = Version::try_parse(v);
  if (!parsed) {
    return false;
  }
  if (parsed->has_local() && m_op != "==" && m_op != "!=") {
    return false;
  }
  if (m_op == "~=") {
    // At least two release segments, as written.
    std::string_view body = v;
    if (auto bang = body.find('!'); bang != std::string_view::npos) {
      body = body.substr(bang + 1);
    }
    if (!body.empty() && (body.front() == 'v' || body.front() == 'V')) {
      body.remove_prefix(1);
    }
    std::size_t i = 0;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])) != 0) {
      ++i;
    }
    if (!(i < body.size() && body[i] == '.' && i + 1 < body.size() &&
          std::isdigit(static_cast<unsigned char>(body[i + 1])) != 0)) {
      return false;
    }
  }
  return true;
}

std::optional<Specifier> Specifier::try_parse(std::string_view text)
{
  Specifier spec;
  if (!spec.parse(text)) {
    return std::nullopt;
  }
  return spec;
}

Specifier::Specifier(std::string_view text)
{
  if (!parse(text)) {
    throw InvalidValue("Invalid specifier: '" + platform::abbreviate(text, platform::QUOTED_TEXT_MOST) + "'");
  }
}

bool Specifier::names_prerelease() const
{
  if (m_op == "==" || m_op == ">=" || m_op == "<=" || m_op == "~=" || m_op == "===") {
    std::string v = m_version;
    if (m_op == "==" && v.size() >= 2 && v.substr(v.size() - 2) == ".*") {
      v.resize(v.size() - 2);
    }
    auto parsed = Version::try_parse(v);
    return parsed && parsed->is_prerelease();
  }
  return false;
}

bool Specifier::contains(const Version& item) const
{
  if (m_op == "===") {
    std::string a = item.str();
    std::string b = m_version;
    std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return a == b;
  }
  bool wildcard = m_version.size() >= 2 && m_version.substr(m_version.size() - 2) == ".*";
  if (wildcard) {
    Version prefix(m_version.substr(0, m_version.size() - 2));
    bool match = prefix_match(item, prefix);
    return m_op == "==" ? match : !match;
  }
  Version spec(m_version);
  Version pub(item.public_str());
  if (m_op == "==" || m_op == "!=") {
    bool eq = spec.has_local() ? item == spec : pub == spec;
    return m_op == "==" ? eq : !eq;
  }
  if (m_op == "<=") {
    return pub <= spec;
  }
  if (m_op == ">=") {
    return pub >= spec;
  }
  // "<" and ">" keep out the neighbours of the bound itself. Installers
  // draw that line in two ways: pip up to 25 (packaging up to 25) around
  // the bound's base release (<1.0.post1 refuses 1.0rc1, >1.0rc1 refuses
  // 1.0.post1 and 1.0+local), later ones around the bound alone. A version
  // is admitted only when both admit it, whichever pip the environment has.
  if (m_op == "<") {
    if (!(item < spec)) {
      return false;
    }
    if (spec.is_prerelease() || !item.is_prerelease()) {
      return true;
    }
    return item < spec.earliest_prerelease() && !same_base_release(item, spec);
  }
  if (m_op == ">") {
    if (!(item > spec)) {
      return false;
    }
    if (item.is_postrelease() && !spec.is_postrelease() &&
        (item.post_base() == spec || same_base_release(item, spec))) {
      return false;
    }
    return !(item.has_local() && (Version(item.public_str()) == spec || same_base_release(item, spec)));
  }
  // "~=": at least the version, and the same release prefix.
  return pub >= spec && prefix_match(item, Version(compatible_prefix(m_version)));
}

SpecifierSet::SpecifierSet(std::string_view text)
{
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string_view part =
      platform::strip(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (!part.empty()) {
      m_specs.emplace_back(part);
    }
    if (comma == std::string_view::npos) {
      break;
    }
    start = comma + 1;
  }
}

std::string SpecifierSet::str() const
{
  std::vector<std::string> texts;
  texts.reserve(m_specs.size());
  for (const auto& s : m_specs) {
    texts.push_back(s.str());
  }
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  std::string out;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    out += (i == 0 ? "" : ",") + texts[i];
  }
  return out;
}

bool SpecifierSet::contains(const Version& v, bool prereleases) const
{
  if (!prereleases && v.is_prerelease()) {
    return false;
  }
  return std::all_of(m_specs.begin(), m_specs.end(), [&](const Specifier& s) { return s.contains(v); });
}

bool SpecifierSet::contains(const Version& v) const
{
  // A lone candidate is admitted even as a pre-release: with no final
  // release to prefer, PEP 440 lets it through.
  return contains(v, true);
}

} // namespace tolvo::config
