#include "tolvo/config/pyproject.hpp"

#include "tolvo/config/toml.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/python_repr.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvo::config {

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

// Where a value stands, for the report: the file it was read from and its
// dotted key path. The messages themselves stay the bare value text.
std::string where(const toml::node& node, std::string_view key_path)
{
  const auto& source = node.source().path;
  return (source ? *source : std::string("pyproject.toml")) + ": '" + std::string(key_path) + "'";
}

// Walking into a value that is not a table is the tree access failing, not
// a failed type check of the value asked for. `path` names `node`.
const toml::table& walk(const toml::node& node, std::string_view path, std::string_view key)
{
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    throw TypeError("cannot look up '" + std::string(key) + "' in " + text_form(node) + ": not a table",
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
  const std::string section_path = "tool." + std::string(checker);
  const toml::table& tool = walk(required(root, "tool"), "tool", checker);
  const toml::node* section = tool.get(checker);
  if (section == nullptr) {
    return std::nullopt;
  }
  const toml::node* exclude = expect_table(*section, section_path).get("exclude");
  if (exclude == nullptr) {
    return std::nullopt;
  }
  return items_of(expect_array(*exclude, section_path + ".exclude"));
}

std::string read_file(const std::filesystem::path& path)
{
  // Opened without blocking and checked before reading: a FIFO or a device
  // standing at the path would otherwise hang the run or never end.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw SystemError("cannot open '" + path.string() + "': " + std::strerror(error), error);
  }
  struct stat info {};
  int error = ::fstat(fd, &info) == 0 ? 0 : errno;
  if (error == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw SystemError("cannot open '" + path.string() + "': " + std::strerror(EISDIR), EISDIR);
  }
  if (error == 0 && !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw SystemError("cannot read '" + path.string() + "': not a regular file", EINVAL);
  }
  std::string bytes;
  if (error == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  char buffer[65536];
  while (error == 0) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      bytes.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  ::close(fd);
  if (error != 0) {
    throw SystemError("cannot read '" + path.string() + "': " + std::strerror(error), error);
  }
  return bytes;
}

// The absolute path of the pyproject.toml governing the working directory:
// the nearest one in it or its ancestors.
std::filesystem::path _find_pyproject()
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

} // namespace

ProjectConfig::ProjectConfig()
  : ProjectConfig(_find_pyproject())
{
}

ProjectConfig::ProjectConfig(const std::filesystem::path& path)
{
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
  return expect_string(required(walk(required(_data->root, "project"), "project", "name"), "name"), "project.name");
}

std::string ProjectConfig::version() const
{
  return expect_string(required(walk(required(_data->root, "project"), "project", "version"), "version"),
                       "project.version");
}

std::optional<Extras> ProjectConfig::extras() const
{
  const toml::table& project = walk(required(_data->root, "project"), "project", "optional-dependencies");
  const toml::node* node = project.get("optional-dependencies");
  if (node == nullptr) {
    return std::nullopt;
  }
  const toml::table& groups = expect_table(*node, "project.optional-dependencies");

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
    const std::string group = std::string(key->str());
    extras.push_back(ExtraGroup{group, items_of(expect_array(*value, "project.optional-dependencies." + group))});
  }
  return extras;
}

std::vector<std::string> ProjectConfig::build_system_requires() const
{
  return items_of(expect_array(required(walk(required(_data->root, "build-system"), "build-system", "requires"),
                                        "requires"),
                               "build-system.requires"));
}

std::string ProjectConfig::build_backend() const
{
  return expect_string(
    required(walk(required(_data->root, "build-system"), "build-system", "build-backend"), "build-backend"),
    "build-system.build-backend");
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
  const toml::node* value = expect_table(*project, "project").get("requires-python");
  if (value == nullptr) {
    return std::nullopt;
  }
  return expect_string(*value, "project.requires-python");
}

} // namespace tolvo::config
