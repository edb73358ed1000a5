#include "tolvo/config/toml_access.hpp"

#include "tolvo/config/toml_limits.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"

#include <algorithm>
#include <sstream>

namespace tolvo::config {

namespace {

std::string describe_position(const toml::source_region& where)
{
  return "line " + std::to_string(where.begin.line) + ", column " + std::to_string(where.begin.column);
}

// Where a value stands, for the report: the file it was read from and its
// dotted key path. The messages themselves stay the bare value text.
std::string where(const toml::node& node, std::string_view key_path)
{
  const auto& source = node.source().path;
  return (source ? *source : std::string("pyproject.toml")) + ": '" + std::string(key_path) + "'";
}

// A container this deep in a value is shown as [...] or {...}, as Python's
// reprlib does: a message stays readable, and the walk is bounded however
// deep the document goes.
constexpr int TEXT_FORM_MAX_DEPTH = 16;

std::string text_form_within(const toml::node& node, int depth)
{
  if (const auto* text = node.as_string()) {
    return platform::python_string_literal(text->get());
  }
  if (const auto* boolean = node.as_boolean()) {
    return boolean->get() ? "True" : "False";
  }
  if (const auto* array = node.as_array()) {
    if (depth >= TEXT_FORM_MAX_DEPTH) {
      return "[...]";
    }
    std::string out = "[";
    for (std::size_t i = 0; i < array->size(); ++i) {
      out += (i == 0 ? "" : ", ") + text_form_within(*array->get(i), depth + 1);
    }
    return out + "]";
  }
  if (const auto* table = node.as_table()) {
    if (depth >= TEXT_FORM_MAX_DEPTH) {
      return "{...}";
    }
    std::string out = "{";
    bool first = true;
    for (auto&& [key, value] : *table) {
      out +=
        (first ? "" : ", ") + platform::python_string_literal(key.str()) + ": " + text_form_within(value, depth + 1);
      first = false;
    }
    return out + "}";
  }
  std::ostringstream stream;
  node.visit([&stream](auto&& value) { stream << value; });
  return stream.str();
}

} // namespace

// Values are shown as Python would show the parsed document, since that is
// the notation the users of tolvo read every day.
std::string text_form(const toml::node& node)
{
  return text_form_within(node, 0);
}

toml::table parse_document(std::string_view bytes, std::string_view source)
{
  // toml++ recurses once per level of the tree; text deeper than it can
  // safely build is refused before it gets there.
  check_toml_limits(bytes, source);
  try {
    return toml::parse(bytes, source);
  } catch (const toml::parse_error& error) {
    throw InvalidValue(std::string(source) + ": invalid TOML: " + std::string(error.description()) + " (" +
                       describe_position(error.source()) + ")");
  }
}

// A required step: the key must be there.
const toml::node& required(const toml::table& table, std::string_view key)
{
  const toml::node* node = table.get(key);
  if (node == nullptr) {
    throw MissingKeyError("missing key '" + std::string(key) + "' in pyproject.toml");
  }
  return *node;
}

// Walking into a value that is not a table is the tree access failing, not
// a failed type check of the value asked for. `path` names `node`.
const toml::table& walk(const toml::node& node, std::string_view path, std::string_view key)
{
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    throw NotATable("cannot look up '" + std::string(key) + "' in " + text_form(node) + ": not a table",
                    where(node, path));
  }
  return *table;
}

const toml::table& expect_table(const toml::node& node, std::string_view path)
{
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    throw AssertionFailure(text_form(node), where(node, path) + " is not a table");
  }
  return *table;
}

const toml::array& expect_array(const toml::node& node, std::string_view path)
{
  const toml::array* array = node.as_array();
  if (array == nullptr) {
    throw AssertionFailure(text_form(node), where(node, path) + " is not an array");
  }
  return *array;
}

std::string expect_string(const toml::node& node, std::string_view path)
{
  const auto* text = node.as_string();
  if (text == nullptr) {
    throw AssertionFailure(text_form(node), where(node, path) + " is not a string");
  }
  return text->get();
}

bool expect_bool(const toml::node& node, std::string_view path)
{
  const auto* value = node.as_boolean();
  if (value == nullptr) {
    throw AssertionFailure(text_form(node), where(node, path) + " is not a boolean");
  }
  return value->get();
}

// Items are handed on unchecked: strings as they are, anything else in its
// text form, so that a later requirement parse names the odd value.
std::vector<std::string> items_of(const toml::array& array)
{
  std::vector<std::string> items;
  items.reserve(array.size());
  for (const toml::node& item : array) {
    if (const auto* text = item.as_string()) {
      items.push_back(text->get());
    } else {
      items.push_back(text_form(item));
    }
  }
  return items;
}

std::vector<std::pair<const toml::key*, const toml::node*>> in_document_order(const toml::table& table)
{
  std::vector<std::pair<const toml::key*, const toml::node*>> ordered;
  ordered.reserve(table.size());
  for (auto&& [key, value] : table) {
    ordered.emplace_back(&key, &value);
  }
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    const auto& pa = a.first->source().begin;
    const auto& pb = b.first->source().begin;
    return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
  });
  return ordered;
}

} // namespace tolvo::config
