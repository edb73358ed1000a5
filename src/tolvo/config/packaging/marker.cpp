#include "tolvo/config/packaging/marker.hpp"

#include "tolvo/config/packaging/marker_tree.hpp"
#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/packaging/specifier.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/text.hpp"

#include <algorithm>
#include <array>
#include <sys/utsname.h>

namespace tolvo::config {

namespace {

constexpr std::array<std::string_view, 4> VERSION_VARIABLES = {"implementation_version", "platform_release",
                                                               "python_full_version", "python_version"};

std::string format(const MarkerNode& node, bool first)
{
  if (node.item) {
    const auto& it = *node.item;
    auto side = [](bool var, const std::string& v) { return var ? v : "\"" + v + "\""; };
    return side(it.lhs_is_variable, it.lhs) + " " + it.op + " " + side(it.rhs_is_variable, it.rhs);
  }
  // A group of one atom adds nothing: its parentheses are redundant. The
  // atom keeps its own place, so a group inside it keeps its parentheses.
  if (node.atoms.size() == 1) {
    return format(node.atoms[0], first);
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
    // A value that is no version compares as a string.
    const std::optional<Specifier> spec = Specifier::try_parse(op + rhs);
    if (spec && op == "===") {
      // Arbitrary equality compares the texts as written, ignoring case.
      auto fold = [](std::string t) {
        std::transform(t.begin(), t.end(), t.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return t;
      };
      return fold(lhs) == fold(rhs);
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
  throw InvalidValue("Undefined '" + op + "' on '" + lhs + "' and '" + rhs + "'");
}

// `env`'s value, or the machine's when `env` has none.
const std::string& lookup(const MarkerEnvironment& env, const std::string& key)
{
  auto it = env.find(key);
  if (it == env.end()) {
    it = default_marker_environment().find(key);
    if (it == default_marker_environment().end()) {
      throw InvalidValue("Undefined marker variable: '" + key + "'");
    }
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
      // Extra names are equal when their normalised forms are.
      lhs = canonicalize_name(lhs);
      rhs = canonicalize_name(rhs);
    }
    return compare(lhs, it.op, rhs, key);
  }
  // Every term is evaluated: a term that cannot be judged fails the whole
  // marker even where short-circuiting would have skipped it, so a marker
  // means the same to tolvo as to the Python tools that install from it.
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

// Adds the names `extra` is compared with; false when it is compared with
// an operator other than "==" and "!=", or with itself.
bool collect_extra_names(const MarkerNode& node, std::set<std::string>& names)
{
  if (node.item) {
    const MarkerItem& it = *node.item;
    const bool left = it.lhs_is_variable && it.lhs == "extra";
    const bool right = it.rhs_is_variable && it.rhs == "extra";
    if (!left && !right) {
      return true;
    }
    if ((left && right) || (it.op != "==" && it.op != "!=")) {
      return false;
    }
    names.insert(canonicalize_name(left ? it.rhs : it.lhs));
    return true;
  }
  return std::all_of(node.atoms.begin(), node.atoms.end(),
                     [&](const MarkerNode& atom) { return collect_extra_names(atom, names); });
}

} // namespace

const MarkerEnvironment& default_marker_environment()
{
  static const MarkerEnvironment env = [] {
    struct utsname u
    {};
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

Marker marker_from_tree(MarkerNode root)
{
  return Marker(std::make_shared<const MarkerNode>(std::move(root)));
}

Marker::Marker(std::shared_ptr<const MarkerNode> root)
  : m_root(std::move(root))
{}

Marker::Marker(std::string_view text)
{
  std::size_t pos = 0;
  m_root = std::make_shared<const MarkerNode>(parse_marker_expression(text, pos));
  if (pos != text.size()) {
    throw InvalidValue("Invalid marker: expected end at position " + std::to_string(pos) + " of '" +
                       platform::abbreviate(text, platform::QUOTED_TEXT_MOST) + "'");
  }
}

std::string Marker::str() const
{
  return format(*m_root, true);
}

bool Marker::evaluate(const MarkerEnvironment& env) const
{
  // Looked up in `env`, then in the machine's values: no copy per evaluation.
  return eval(*m_root, env);
}

std::optional<std::set<std::string>> Marker::extra_names() const
{
  std::set<std::string> names;
  if (!collect_extra_names(*m_root, names)) {
    return std::nullopt;
  }
  return names;
}

} // namespace tolvo::config
