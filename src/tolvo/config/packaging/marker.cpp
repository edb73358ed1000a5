#include "tolvo/config/packaging/marker.hpp"

#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/specifier.hpp"
#include "tolvo/errors.hpp"

#include <algorithm>
#include <array>
#include <sys/utsname.h>

namespace tolvo {

namespace {

constexpr std::array<std::string_view, 4> VERSION_VARIABLES = {
  "implementation_version", "platform_release", "python_full_version", "python_version"};

bool is_word_char(char c)
{
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

class Parser
{
public:
  Parser(std::string_view text, std::size_t& pos) : m_text(text), m_pos(pos) {}

  [[noreturn]] void fail(const std::string& what) const
  {
    throw ValueError("Invalid marker: " + what + " at position " + std::to_string(m_pos) + " of '" +
                     std::string(m_text) + "'");
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
      ++m_pos;
      ws();
      out = expression();
      ws();
      if (m_pos >= m_text.size() || m_text[m_pos] != ')') {
        fail("expected closing parenthesis");
      }
      ++m_pos;
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
    static const std::array<std::string_view, 17> names = {
      "python_version", "python_full_version", "os_name", "os.name", "sys_platform", "sys.platform",
      "platform_release", "platform_system", "platform_version", "platform.version", "platform_machine",
      "platform.machine", "platform_python_implementation", "platform.python_implementation", "python_implementation",
      "implementation_name", "implementation_version"};
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
    for (std::string_view o : {"===", "==", "~=", "!=", "<=", ">=", "<", ">"}) {
      if (m_text.substr(m_pos, o.size()) == o) {
        m_pos += o.size();
        return std::string(o);
      }
    }
    fail("expected a marker operator");
  }

  std::string_view m_text;
  std::size_t& m_pos;
};

// Extra names compare after PEP 503 normalisation. As in the reference
// implementation, only the terms at the top level are rewritten.
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

std::string format(const MarkerNode& node, bool first)
{
  if (node.item) {
    const auto& it = *node.item;
    auto side = [](bool var, const std::string& v) { return var ? v : "\"" + v + "\""; };
    return side(it.lhs_is_variable, it.lhs) + " " + it.op + " " + side(it.rhs_is_variable, it.rhs);
  }
  // Parentheses around a single term are redundant and dropped.
  if (node.atoms.size() == 1) {
    return format(node.atoms[0], true);
  }
  std::string out;
  for (std::size_t i = 0; i < node.atoms.size(); ++i) {
    if (i > 0) {
      out += " " + node.joins[i - 1] + " ";
    }
    out += format(node.atoms[i], false);
  }
  return first ? out : "(" + out + ")";
}

bool compare(const std::string& lhs, const std::string& op, const std::string& rhs, const std::string& key)
{
  if (std::find(VERSION_VARIABLES.begin(), VERSION_VARIABLES.end(), key) != VERSION_VARIABLES.end()) {
    std::optional<Specifier> spec;
    try {
      spec.emplace(op + rhs);
    } catch (const ValueError&) {
      spec.reset();
    }
    if (spec) {
      // A value that is no version is simply not contained.
      auto v = Version::try_parse(lhs);
      return v && spec->contains(*v);
    }
  }
  if (op == "in") {
    return rhs.find(lhs) != std::string::npos;
  }
  if (op == "not in") {
    return rhs.find(lhs) == std::string::npos;
  }
  if (op == "==" || op == "<=" || op == ">=") {
    return lhs == rhs;
  }
  if (op == "!=") {
    return lhs != rhs;
  }
  if (op == "<" || op == ">") {
    return false;
  }
  throw ValueError("Undefined '" + op + "' on '" + lhs + "' and '" + rhs + "'");
}

const std::string& lookup(const MarkerEnvironment& env, const std::string& key)
{
  auto it = env.find(key);
  if (it == env.end()) {
    throw ValueError("Undefined marker variable: '" + key + "'");
  }
  return it->second;
}

bool eval(const MarkerNode& node, const MarkerEnvironment& env)
{
  if (node.item) {
    const auto& it = *node.item;
    std::string key;
    std::string lhs;
    std::string rhs;
    if (it.lhs_is_variable) {
      key = it.lhs;
      lhs = lookup(env, key);
      rhs = it.rhs;
    } else {
      key = it.rhs;
      lhs = it.lhs;
      rhs = lookup(env, key);
    }
    if (key == "extra") {
      // The environment's extra is compared in its normalised form.
      (it.lhs_is_variable ? lhs : rhs) = canonicalize_name(it.lhs_is_variable ? lhs : rhs);
    }
    return compare(lhs, it.op, rhs, key);
  }
  // Every term is evaluated, as the reference does: a failing term fails
  // the whole marker even where short-circuiting would have skipped it.
  bool any_group = false;
  bool group = true;
  for (std::size_t i = 0; i < node.atoms.size(); ++i) {
    if (i > 0 && node.joins[i - 1] == "or") {
      any_group = any_group || group;
      group = true;
    }
    bool v = eval(node.atoms[i], env);
    group = group && v;
  }
  return any_group || group;
}

} // namespace

const MarkerEnvironment& default_marker_environment()
{
  static const MarkerEnvironment env = [] {
    struct utsname u {};
    MarkerEnvironment e;
    bool ok = uname(&u) == 0;
    // tolvo is no Python interpreter; it describes a CPython 3.12 on this
    // machine, the interpreter its projects are most often built with.
    e["os_name"] = "posix";
    e["sys_platform"] = "linux";
    e["platform_machine"] = ok ? u.machine : "";
    e["platform_release"] = ok ? u.release : "";
    e["platform_system"] = ok ? u.sysname : "Linux";
    e["platform_version"] = ok ? u.version : "";
    e["implementation_name"] = "cpython";
    e["implementation_version"] = "3.12.0";
    e["platform_python_implementation"] = "CPython";
    e["python_version"] = "3.12";
    e["python_full_version"] = "3.12.0";
    e["extra"] = "";
    return e;
  }();
  return env;
}

namespace packaging_detail {

MarkerNode parse_marker_expression(std::string_view text, std::size_t& pos)
{
  Parser p(text, pos);
  MarkerNode node = p.expression();
  normalize_extras(node);
  return node;
}

} // namespace packaging_detail

Marker::Marker(std::string_view text)
{
  std::size_t pos = 0;
  m_root = packaging_detail::parse_marker_expression(text, pos);
  if (pos != text.size()) {
    throw ValueError("Invalid marker: expected end at position " + std::to_string(pos) + " of '" +
                     std::string(text) + "'");
  }
}

std::string Marker::str() const
{
  return format(m_root, true);
}

bool Marker::evaluate(const MarkerEnvironment& env) const
{
  MarkerEnvironment full = default_marker_environment();
  for (const auto& [k, v] : env) {
    full[k] = v;
  }
  return eval(m_root, full);
}

} // namespace tolvo
