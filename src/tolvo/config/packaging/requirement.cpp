#include "tolvo/config/packaging/requirement.hpp"

#include "tolvo/config/packaging/marker_tree.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <cctype>

namespace tolvo::config {

namespace {

bool is_alnum(char c)
{
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

class ReqParser
{
public:
  explicit ReqParser(std::string_view text)
    : m_text(text)
  {}

  [[noreturn]] void fail(const std::string& what) const
  {
    throw InvalidValue("Invalid requirement: '" + platform::abbreviate(m_text, platform::QUOTED_TEXT_MOST) +
                       "': " + what + " at position " + std::to_string(m_pos));
  }
  void ws()
  {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) {
      ++m_pos;
    }
  }
  [[nodiscard]] bool at(char c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }
  [[nodiscard]] bool at_end() const { return m_pos >= m_text.size(); }

  // [A-Za-z0-9] ([A-Za-z0-9._-]* [A-Za-z0-9])?
  std::optional<std::string> identifier()
  {
    if (at_end() || !is_alnum(m_text[m_pos])) {
      return std::nullopt;
    }
    std::size_t start = m_pos;
    std::size_t last_alnum = m_pos;
    std::size_t i = m_pos;
    while (i < m_text.size() && (is_alnum(m_text[i]) || m_text[i] == '.' || m_text[i] == '_' || m_text[i] == '-')) {
      if (is_alnum(m_text[i])) {
        last_alnum = i;
      }
      ++i;
    }
    m_pos = last_alnum + 1;
    return std::string(m_text.substr(start, m_pos - start));
  }

  void parse(Requirement& r)
  {
    ws();
    auto name = identifier();
    if (!name) {
      fail("expected package name");
    }
    r.name = *name;
    ws();
    if (at('[')) {
      ++m_pos;
      ws();
      if (auto first = identifier()) {
        r.extras.insert(*first);
        while (true) {
          ws();
          if (!at(',')) {
            break;
          }
          ++m_pos;
          ws();
          auto extra = identifier();
          if (!extra) {
            fail("expected extra name after comma");
          }
          r.extras.insert(*extra);
        }
      }
      ws();
      if (!at(']')) {
        fail("expected closing bracket");
      }
      ++m_pos;
    }
    ws();
    if (at('@')) {
      ++m_pos;
      ws();
      std::size_t start = m_pos;
      while (!at_end() && m_text[m_pos] != ' ' && m_text[m_pos] != '\t') {
        ++m_pos;
      }
      if (m_pos == start) {
        fail("expected URL after @");
      }
      r.url = m_text.substr(start, m_pos - start);
      if (at_end()) {
        return;
      }
      ws();
      if (at_end()) {
        return;
      }
      marker(r);
      return;
    }
    specifiers(r);
    ws();
    if (at_end()) {
      return;
    }
    marker(r);
  }

private:
  void marker(Requirement& r)
  {
    if (!at(';')) {
      fail("expected end or semicolon");
    }
    ++m_pos;
    try {
      r.marker = marker_from_tree(parse_marker_expression(m_text, m_pos));
    } catch (const InvalidValue& e) {
      fail(e.what());
    }
    ws();
    if (!at_end()) {
      fail("expected end");
    }
  }

  // One specifier token: operator, blanks, then the characters a version
  // or arbitrary string may hold; validated by Specifier.
  bool specifier_token(std::string& out)
  {
    std::size_t start = m_pos;
    std::string_view rest = m_text.substr(m_pos);
    std::size_t oplen = 0;
    for (std::string_view o : SPECIFIER_OPERATORS) {
      if (rest.substr(0, o.size()) == o) {
        oplen = o.size();
        break;
      }
    }
    if (oplen == 0) {
      return false;
    }
    m_pos += oplen;
    ws();
    while (!at_end()) {
      char c = m_text[m_pos];
      if (c == ' ' || c == '\t' || c == ',' || c == ';' || c == ')' || c == '(' || c == '[' || c == ']' || c == '@') {
        break;
      }
      ++m_pos;
    }
    out += m_text.substr(start, m_pos - start);
    if (!Specifier::try_parse(m_text.substr(start, m_pos - start))) {
      fail("invalid specifier");
    }
    return true;
  }

  void specifiers(Requirement& r)
  {
    bool paren = at('(');
    if (paren) {
      ++m_pos;
    }
    ws();
    std::string text;
    while (specifier_token(text)) {
      ws();
      if (!at(',')) {
        break;
      }
      ++m_pos;
      text += ',';
      ws();
    }
    ws();
    if (paren) {
      if (!at(')')) {
        fail("expected closing parenthesis");
      }
      ++m_pos;
    }
    r.specifier = SpecifierSet(text);
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
};

} // namespace

Requirement::Requirement(std::string_view text)
{
  ReqParser(text).parse(*this);
}

std::string Requirement::str() const
{
  std::string out = name;
  if (!extras.empty()) {
    out += '[';
    bool first = true;
    for (const auto& e : extras) {
      out += (first ? "" : ",") + e;
      first = false;
    }
    out += ']';
  }
  out += specifier.str();
  if (!url.empty()) {
    out += " @ " + url;
    if (marker) {
      out += ' ';
    }
  }
  if (marker) {
    out += "; " + marker->str();
  }
  return out;
}

} // namespace tolvo::config
