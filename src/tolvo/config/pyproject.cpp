#include "tolvo/config/pyproject.hpp"

#include "tolvo/config/toml_access.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/read_file.hpp"

#include <algorithm>
#include <sstream>
#include <system_error>

namespace tolvo::config {

struct ProjectConfig::Document
{
  toml::table root;
};

namespace {

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
  const std::string bytes = platform::read_regular_file(path.string());
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
