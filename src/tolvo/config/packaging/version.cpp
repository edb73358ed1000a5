#include "tolvo/config/packaging/version.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <cctype>

namespace tolvo::config {

namespace {

bool is_digit(char c)
{
  return c >= '0' && c <= '9';
}

bool is_sep(char c)
{
  return c == '-' || c == '_' || c == '.';
}

char lower(char c)
{
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string strip_zeros(std::string_view digits)
{
  std::size_t i = 0;
  while (i + 1 < digits.size() && digits[i] == '0') {
    ++i;
  }
  return std::string(digits.substr(i));
}

class Cursor
{
public:
  explicit Cursor(std::string_view text)
    : m_text(text)
  {}
  [[nodiscard]] bool at_end() const { return m_pos >= m_text.size(); }
  [[nodiscard]] char peek(std::size_t ahead = 0) const
  {
    return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0';
  }
  [[nodiscard]] std::size_t pos() const { return m_pos; }
  void seek(std::size_t pos) { m_pos = pos; }
  std::string_view digits()
  {
    std::size_t start = m_pos;
    while (!at_end() && is_digit(m_text[m_pos])) {
      ++m_pos;
    }
    return m_text.substr(start, m_pos - start);
  }
  // Case-insensitive match of `word` at the cursor; advances on success.
  bool word(std::string_view w)
  {
    if (m_text.size() - m_pos < w.size()) {
      return false;
    }
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (lower(m_text[m_pos + i]) != w[i]) {
        return false;
      }
    }
    m_pos += w.size();
    return true;
  }

private:
  std::string_view m_text;
  std::size_t m_pos = 0;
};

// Optional separator, label, optional separator, optional number: the
// shape shared by pre, post and dev segments. Restores the cursor on failure.
template <typename Labels>
std::optional<std::pair<std::string, std::string>> labelled(Cursor& cur, const Labels& labels)
{
  std::size_t start = cur.pos();
  if (is_sep(cur.peek())) {
    cur.seek(cur.pos() + 1);
  }
  for (const auto& [spelling, normal] : labels) {
    if (cur.word(spelling)) {
      // A separator may follow the label, with or without a number.
      if (is_sep(cur.peek())) {
        cur.seek(cur.pos() + 1);
      }
      auto n = cur.digits();
      return std::pair<std::string, std::string>{normal, n.empty() ? "0" : strip_zeros(n)};
    }
  }
  cur.seek(start);
  return std::nullopt;
}

int local_cmp(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
  // Numeric segments sort above alphanumeric ones; numbers by value.
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    bool an = std::all_of(a[i].begin(), a[i].end(), is_digit);
    bool bn = std::all_of(b[i].begin(), b[i].end(), is_digit);
    if (an != bn) {
      return an ? 1 : -1;
    }
    std::strong_ordering c = an ? compare_numbers(strip_zeros(a[i]), strip_zeros(b[i])) : a[i] <=> b[i];
    if (c != 0) {
      return c < 0 ? -1 : 1;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

} // namespace

std::strong_ordering compare_numbers(const std::string& a, const std::string& b)
{
  if (a.size() != b.size()) {
    return a.size() <=> b.size();
  }
  return a <=> b;
}

bool Version::parse_into(std::string_view text, Version& out)
{
  Cursor cur(platform::strip(text));
  if (lower(cur.peek()) == 'v') {
    cur.seek(1);
  }
  auto first = cur.digits();
  if (first.empty()) {
    return false;
  }
  if (cur.peek() == '!') {
    out.m_epoch = strip_zeros(first);
    cur.seek(cur.pos() + 1);
    first = cur.digits();
    if (first.empty()) {
      return false;
    }
  }
  out.m_release.push_back(strip_zeros(first));
  while (cur.peek() == '.' && is_digit(cur.peek(1))) {
    cur.seek(cur.pos() + 1);
    out.m_release.push_back(strip_zeros(cur.digits()));
  }
  static const std::pair<std::string_view, std::string_view> pre_labels[] = {
    {"alpha", "a"}, {"a", "a"}, {"beta", "b"}, {"b", "b"}, {"preview", "rc"}, {"pre", "rc"}, {"c", "rc"}, {"rc", "rc"}};
  static const std::pair<std::string_view, std::string_view> post_labels[] = {
    {"post", "post"}, {"rev", "post"}, {"r", "post"}};
  static const std::pair<std::string_view, std::string_view> dev_labels[] = {{"dev", "dev"}};
  out.m_pre = labelled(cur, pre_labels);
  if (cur.peek() == '-' && is_digit(cur.peek(1))) {
    cur.seek(cur.pos() + 1);
    out.m_post = strip_zeros(cur.digits());
  } else if (auto post = labelled(cur, post_labels)) {
    out.m_post = post->second;
  }
  if (auto dev = labelled(cur, dev_labels)) {
    out.m_dev = dev->second;
  }
  if (cur.peek() == '+') {
    cur.seek(cur.pos() + 1);
    std::string seg;
    while (true) {
      char c = cur.peek();
      if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
        seg += lower(c);
        cur.seek(cur.pos() + 1);
      } else if (is_sep(c) && !seg.empty() && std::isalnum(static_cast<unsigned char>(cur.peek(1))) != 0) {
        out.m_local.push_back(seg);
        seg.clear();
        cur.seek(cur.pos() + 1);
      } else {
        break;
      }
    }
    if (seg.empty()) {
      return false;
    }
    out.m_local.push_back(seg);
  }
  return cur.at_end();
}

Version::Version(std::string_view text)
{
  if (!parse_into(text, *this)) {
    throw InvalidValue("Invalid version: '" + platform::abbreviate(text, platform::QUOTED_TEXT_MOST) + "'");
  }
}

std::optional<Version> Version::try_parse(std::string_view text)
{
  Version v;
  if (!parse_into(text, v)) {
    return std::nullopt;
  }
  return v;
}

Version Version::post_base() const
{
  Version v = *this;
  v.m_post.reset();
  v.m_dev.reset();
  v.m_local.clear();
  return v;
}

Version Version::earliest_prerelease() const
{
  Version v = *this;
  v.m_dev = "0";
  v.m_local.clear();
  return v;
}

std::string Version::base_version() const
{
  std::string s;
  if (m_epoch != "0") {
    s += m_epoch + "!";
  }
  for (std::size_t i = 0; i < m_release.size(); ++i) {
    s += (i == 0 ? "" : ".") + m_release[i];
  }
  return s;
}

std::string Version::public_str() const
{
  std::string s = base_version();
  if (m_pre) {
    s += m_pre->first + m_pre->second;
  }
  if (m_post) {
    s += ".post" + *m_post;
  }
  if (m_dev) {
    s += ".dev" + *m_dev;
  }
  return s;
}

std::string Version::str() const
{
  std::string s = public_str();
  for (std::size_t i = 0; i < m_local.size(); ++i) {
    s += (i == 0 ? "+" : ".");
    bool numeric = std::all_of(m_local[i].begin(), m_local[i].end(), is_digit);
    s += numeric ? strip_zeros(m_local[i]) : m_local[i];
  }
  return s;
}

std::strong_ordering Version::operator<=>(const Version& other) const
{
  if (auto c = compare_numbers(m_epoch, other.m_epoch); c != 0) {
    return c;
  }
  // Trailing zeros of the release do not count: 1.0 == 1.0.0.
  auto significant = [](const std::vector<std::string>& r) {
    std::size_t n = r.size();
    while (n > 0 && r[n - 1] == "0") {
      --n;
    }
    return n;
  };
  std::size_t na = significant(m_release);
  std::size_t nb = significant(other.m_release);
  for (std::size_t i = 0; i < na && i < nb; ++i) {
    if (auto c = compare_numbers(m_release[i], other.m_release[i]); c != 0) {
      return c;
    }
  }
  if (na != nb) {
    return na <=> nb;
  }
  // Pre: a dev-only release sorts before every pre-release; no pre sorts after.
  auto pre_rank = [](const Version& v) {
    if (!v.m_pre && !v.m_post && v.m_dev) {
      return -1;
    }
    return v.m_pre ? 0 : 1;
  };
  int pa = pre_rank(*this);
  int pb = pre_rank(other);
  if (pa != pb) {
    return pa <=> pb;
  }
  if (pa == 0) {
    if (auto c = m_pre->first <=> other.m_pre->first; c != 0) {
      return c;
    }
    if (auto c = compare_numbers(m_pre->second, other.m_pre->second); c != 0) {
      return c;
    }
  }
  if (m_post.has_value() != other.m_post.has_value()) {
    return m_post.has_value() ? std::strong_ordering::greater : std::strong_ordering::less;
  }
  if (m_post) {
    if (auto c = compare_numbers(*m_post, *other.m_post); c != 0) {
      return c;
    }
  }
  if (m_dev.has_value() != other.m_dev.has_value()) {
    return m_dev.has_value() ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  if (m_dev) {
    if (auto c = compare_numbers(*m_dev, *other.m_dev); c != 0) {
      return c;
    }
  }
  if (m_local.empty() != other.m_local.empty()) {
    return m_local.empty() ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  int lc = local_cmp(m_local, other.m_local);
  if (lc != 0) {
    return lc < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  return std::strong_ordering::equal;
}

} // namespace tolvo::config
