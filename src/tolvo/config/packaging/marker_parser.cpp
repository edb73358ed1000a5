#include "tolvo/config/packaging/marker_tree.hpp"
#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/specifier.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace tolvo::config {

namespace {

bool is_word_char(char c)
{
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

class Parser
{
public:
  Parser(std::string_view text, std::size_t& pos)
    : m_text(text),
      m_pos(pos)
  {}

  [[noreturn]] void fail(const std::string& what) const
  {
    throw InvalidValue("Invalid marker: " + what + " at position " + std::to_string(m_pos) + " of '" +
                       platform::abbreviate(m_text, platform::QUOTED_TEXT_MOST) + "'");
  }
  void ws()
  {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) {
      ++m_pos;
    }
  }
  // A whole word at the cursor (word boundaries on both sides).
  bool word(std::string_view w, bool consume = true)
  {
    if (m_text.substr(m_pos, w.size()) != w) {
      return false;
    }
    if (m_pos > 0 && is_word_char(m_text[m_pos - 1]) && is_word_char(w.front())) {
      return false;
    }
    std::size_t end = m_pos + w.size();
    if (end < m_text.size() && is_word_char(m_text[end])) {
      return false;
    }
    if (consume) {
      m_pos = end;
    }
    return true;
  }

  MarkerNode expression()
  {
    MarkerNode node;
    node.atoms.push_back(atom());
    while (true) {
      if (word("and")) {
        node.joins.emplace_back("and");
      } else if (word("or")) {
        node.joins.emplace_back("or");
      } else {
        break;
      }
      node.atoms.push_back(atom());
    }
    return node;
  }

private:
  MarkerNode atom()
  {
    ws();
    MarkerNode out;
    if (m_pos < m_text.size() && m_text[m_pos] == '(') {
      // Each group costs stack here and in every walk of the tree.
      if (++m_depth > MARKER_MAX_NESTING) {
        fail("parentheses nested more than " + std::to_string(MARKER_MAX_NESTING) + " deep");
      }
      ++m_pos;
      ws();
      out = expression();
      ws();
      if (m_pos >= m_text.size() || m_text[m_pos] != ')') {
        fail("expected closing parenthesis");
      }
      ++m_pos;
      --m_depth;
    } else {
      MarkerItem item;
      ws();
      item.lhs_is_variable = value(item.lhs);
      ws();
      item.op = op();
      ws();
      item.rhs_is_variable = value(item.rhs);
      out.item = std::move(item);
    }
    ws();
    return out;
  }

  // Reads a variable (returns true) or a quoted string (false).
  bool value(std::string& out)
  {
    static const std::array<std::string_view, 17> names = {"python_version",
                                                           "python_full_version",
                                                           "os_name",
                                                           "os.name",
                                                           "sys_platform",
                                                           "sys.platform",
                                                           "platform_release",
                                                           "platform_system",
                                                           "platform_version",
                                                           "platform.version",
                                                           "platform_machine",
                                                           "platform.machine",
                                                           "platform_python_implementation",
                                                           "platform.python_implementation",
                                                           "python_implementation",
                                                           "implementation_name",
                                                           "implementation_version"};
    for (std::string_view n : names) {
      if (word(n)) {
        std::string v(n);
        std::replace(v.begin(), v.end(), '.', '_');
        out = v == "python_implementation" ? "platform_python_implementation" : v;
        return true;
      }
    }
    if (word("extra")) {
      out = "extra";
      return true;
    }
    if (m_pos < m_text.size() && (m_text[m_pos] == '\'' || m_text[m_pos] == '"')) {
      char q = m_text[m_pos];
      std::size_t close = m_text.find(q, m_pos + 1);
      if (close == std::string_view::npos) {
        fail("unterminated string");
      }
      out = m_text.substr(m_pos + 1, close - m_pos - 1);
      m_pos = close + 1;
      return false;
    }
    fail("expected a marker variable or quoted string");
  }

  std::string op()
  {
    if (word("in")) {
      return "in";
    }
    if (word("not")) {
      std::size_t before = m_pos;
      ws();
      if (m_pos == before || !word("in")) {
        fail("expected 'in' after 'not'");
      }
      return "not in";
    }
    for (std::string_view o : SPECIFIER_OPERATORS) {
      if (m_text.substr(m_pos, o.size()) == o) {
        m_pos += o.size();
        return std::string(o);
      }
    }
    fail("expected a marker operator");
  }

  std::string_view m_text;
  std::size_t& m_pos;
  std::size_t m_depth = 0;
};

// Extra names compare after PEP 503 normalisation. Only the terms at the top
// level are rewritten, which gives the text form Python's packaging tools
// print; evaluation normalises both sides wherever a term stands.
void normalize_extras(MarkerNode& root)
{
  for (auto& node : root.atoms) {
    if (!node.item) {
      continue;
    }
    auto& it = *node.item;
    if (it.lhs_is_variable && it.lhs == "extra") {
      it.rhs = canonicalize_name(it.rhs);
    } else if (it.rhs_is_variable && it.rhs == "extra") {
      it.lhs = canonicalize_name(it.lhs);
    }
  }
}

} // namespace

MarkerNode parse_marker_expression(std::string_view text, std::size_t& pos)
{
  Parser p(text, pos);
  MarkerNode node = p.expression();
  normalize_extras(node);
  return node;
}

} // namespace tolvo::config
