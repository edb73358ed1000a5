#include "tolvo/config/pyproject.hpp"

#include "tolvo/config/toml.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tolvo {

struct ProjectConfig::Document
{
  toml::table root;
};

namespace {

// Values are shown as Python would show the parsed document, since that is
// the notation the users of tolvo read every day.
std::string text_form(const toml::node& node)
{
  if (const auto* text = node.as_string()) {
    return platform::python_string_literal(text->get());
  }
  if (const auto* boolean = node.as_boolean()) {
    return boolean->get() ? "True" : "False";
  }
  if (const auto* array = node.as_array()) {
    std::string out = "[";
    for (std::size_t i = 0; i < array->size(); ++i) {
      out += (i == 0 ? "" : ", ") + text_form(*array->get(i));
    }
    return out + "]";
  }
  if (const auto* table = node.as_table()) {
    std::string out = "{";
    bool first = true;
    for (auto&& [key, value] : *table) {
      out += (first ? "" : ", ") + platform::python_string_literal(key.str()) + ": " + text_form(value);
      first = false;
    }
    return out + "}";
  }
  std::ostringstream stream;
  node.visit([&stream](auto&& value) { stream << value; });
  return stream.str();
}

std::string describe_position(const toml::source_region& where)
{
  return "line " + std::to_string(where.begin.line) + ", column " + std::to_string(where.begin.column);
}

toml::table parse_document(std::string_view bytes, std::string_view source)
{
  try {
    return toml::parse(bytes, source);
  } catch (const toml::parse_error& error) {
    throw ValueError(std::string(source) + ": invalid TOML: " + std::string(error.description()) + " (" +
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
// a failed type check of the value asked for.
const toml::table& walk(const toml::node& node, std::string_view key)
{
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    throw TypeError("cannot look up '" + std::string(key) + "' in " + text_form(node) + ": not a table");
  }
  return *table;
}

const toml::table& expect_table(const toml::node& node)
{
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    throw AssertionFailure(text_form(node));
  }
  return *table;
}

const toml::array& expect_array(const toml::node& node)
{
  const toml::array* array = node.as_array();
  if (array == nullptr) {
    throw AssertionFailure(text_form(node));
  }
  return *array;
}

std::string expect_string(const toml::node& node)
{
  const auto* text = node.as_string();
  if (text == nullptr) {
    throw AssertionFailure(text_form(node));
  }
  return text->get();
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

std::optional<std::vector<std::string>> tool_exclude(const toml::table& root, std::string_view checker)
{
  const toml::table& tool = walk(required(root, "tool"), checker);
  const toml::node* section = tool.get(checker);
  if (section == nullptr) {
    return std::nullopt;
  }
  const toml::node* exclude = expect_table(*section).get("exclude");
  if (exclude == nullptr) {
    return std::nullopt;
  }
  return items_of(expect_array(*exclude));
}

std::string read_file(const std::filesystem::path& path)
{
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    const int error = errno;
    throw SystemError("cannot open '" + path.string() + "': " + std::strerror(error), error);
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (file.bad()) {
    const int error = errno;
    throw SystemError("cannot read '" + path.string() + "': " + std::strerror(error), error);
  }
  return std::move(bytes).str();
}

} // namespace

std::filesystem::path ProjectConfig::_find_pyproject()
{
  std::error_code error;
  std::filesystem::path directory = std::filesystem::current_path(error);
  if (error) {
    throw SystemError("cannot determine the working directory: " + error.message(), error.value());
  }
  while (true) {
    std::filesystem::path candidate = directory / "pyproject.toml";
    // Any kind of entry ends the search; opening it decides the rest.
    if (std::filesystem::exists(candidate, error)) {
      return candidate;
    }
    if (!directory.has_relative_path()) {
      break;
    }
    directory = directory.parent_path();
  }
  throw NotFoundError("pyproject.toml not found");
}

ProjectConfig::ProjectConfig()
  : ProjectConfig(_find_pyproject())
{
}

ProjectConfig::ProjectConfig(const std::filesystem::path& path)
{
  // A directory opens fine as a stream on Linux but cannot be read; say so
  // the way the system would.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw SystemError("cannot open '" + path.string() + "': " + std::strerror(EISDIR), EISDIR);
  }
  const std::string bytes = read_file(path);
  _data = std::make_unique<const Document>(Document{parse_document(bytes, path.string())});
}

ProjectConfig::ProjectConfig(std::istream& stream)
{
  std::ostringstream bytes;
  if (stream.rdbuf() != nullptr && stream.peek() != std::char_traits<char>::eof()) {
    bytes << stream.rdbuf();
  }
  _data = std::make_unique<const Document>(Document{parse_document(std::move(bytes).str(), "<stream>")});
}

ProjectConfig::~ProjectConfig() = default;
ProjectConfig::ProjectConfig(ProjectConfig&&) noexcept = default;
ProjectConfig& ProjectConfig::operator=(ProjectConfig&&) noexcept = default;

std::string ProjectConfig::name() const
{
  return expect_string(required(walk(required(_data->root, "project"), "name"), "name"));
}

std::string ProjectConfig::version() const
{
  return expect_string(required(walk(required(_data->root, "project"), "version"), "version"));
}

std::optional<Extras> ProjectConfig::extras() const
{
  const toml::table& project = walk(required(_data->root, "project"), "optional-dependencies");
  const toml::node* node = project.get("optional-dependencies");
  if (node == nullptr) {
    return std::nullopt;
  }
  const toml::table& groups = expect_table(*node);

  // toml++ keeps keys sorted; the document order is recovered from where
  // each key was written.
  std::vector<std::pair<const toml::key*, const toml::node*>> ordered;
  ordered.reserve(groups.size());
  for (auto&& [key, value] : groups) {
    ordered.emplace_back(&key, &value);
  }
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    const auto& pa = a.first->source().begin;
    const auto& pb = b.first->source().begin;
    return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
  });

  Extras extras;
  extras.reserve(ordered.size());
  for (const auto& [key, value] : ordered) {
    extras.push_back(ExtraGroup{std::string(key->str()), items_of(expect_array(*value))});
  }
  return extras;
}

std::vector<std::string> ProjectConfig::build_system_requires() const
{
  return items_of(expect_array(required(walk(required(_data->root, "build-system"), "requires"), "requires")));
}

std::string ProjectConfig::build_backend() const
{
  return expect_string(
    required(walk(required(_data->root, "build-system"), "build-backend"), "build-backend"));
}

std::optional<std::vector<std::string>> ProjectConfig::pyright_exclude() const
{
  return tool_exclude(_data->root, "pyright");
}

std::optional<std::vector<std::string>> ProjectConfig::ruff_exclude() const
{
  return tool_exclude(_data->root, "ruff");
}

std::optional<std::string> ProjectConfig::requires_python() const
{
  const toml::node* project = _data->root.get("project");
  if (project == nullptr) {
    return std::nullopt;
  }
  const toml::node* value = expect_table(*project).get("requires-python");
  if (value == nullptr) {
    return std::nullopt;
  }
  return expect_string(*value);
}

} // namespace tolvo
