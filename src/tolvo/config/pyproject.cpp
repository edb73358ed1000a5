#include "tolvo/config/pyproject.hpp"

#include "tolvo/config/dependency_groups_detail.hpp"
#include "tolvo/config/toml_access.hpp"
#include "tolvo/config/version_files.hpp"
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

// `key` of `table` as a table, or nullptr when absent. `prefix` leads to
// `table` in the dotted key path.
const toml::table* optional_table(const toml::table& table, std::string_view key, std::string_view prefix = {})
{
  const toml::node* node = table.get(key);
  return node == nullptr ? nullptr : &expect_table(*node, std::string(prefix) + std::string(key));
}

// `key` of the `tool.tolvo` table, or nullptr when it or any table on the
// way is absent.
const toml::node* tolvo_setting(const toml::table& root, std::string_view key)
{
  const toml::table* tool = optional_table(root, "tool");
  const toml::table* tolvo = tool == nullptr ? nullptr : optional_table(*tool, "tolvo", "tool.");
  return tolvo == nullptr ? nullptr : tolvo->get(key);
}

// A list of names under tool.tolvo, strict, unlike requirement lists: a name
// in another form would only turn into a confusing "unknown" later.
std::optional<std::vector<std::string>> string_list_setting(const toml::table& root, std::string_view key)
{
  const toml::node* node = tolvo_setting(root, key);
  if (node == nullptr) {
    return std::nullopt;
  }
  const std::string where = "tool.tolvo." + std::string(key);
  std::vector<std::string> names;
  for (const toml::node& item : expect_array(*node, where)) {
    names.push_back(expect_string(item, where + "[" + std::to_string(names.size()) + "]"));
  }
  return names;
}

// The pyproject.toml governing the working directory, or a NotFoundError.
std::filesystem::path require_pyproject()
{
  if (std::optional<std::filesystem::path> found = find_pyproject()) {
    return *found;
  }
  throw NotFoundError("pyproject.toml not found");
}

} // namespace

std::optional<std::filesystem::path> find_pyproject()
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
  return std::nullopt;
}

ProjectConfig::ProjectConfig()
  : ProjectConfig(require_pyproject())
{}

ProjectConfig::ProjectConfig(const std::filesystem::path& path)
{
  const std::string bytes = platform::read_regular_file(path.string());
  m_data = std::make_unique<const Document>(Document{parse_document(bytes, path.string())});
}

ProjectConfig::ProjectConfig(std::istream& stream)
{
  std::ostringstream bytes;
  if (stream.rdbuf() != nullptr && stream.peek() != std::char_traits<char>::eof()) {
    bytes << stream.rdbuf();
  }
  m_data = std::make_unique<const Document>(Document{parse_document(std::move(bytes).str(), "<stream>")});
}

ProjectConfig::~ProjectConfig() = default;
ProjectConfig::ProjectConfig(ProjectConfig&&) noexcept = default;
ProjectConfig& ProjectConfig::operator=(ProjectConfig&&) noexcept = default;

std::string ProjectConfig::name() const
{
  return expect_string(required(walk(required(m_data->root, "project"), "project", "name"), "name"), "project.name");
}

std::string ProjectConfig::version() const
{
  return expect_string(required(walk(required(m_data->root, "project"), "project", "version"), "version"),
                       "project.version");
}

std::optional<Extras> ProjectConfig::extras() const
{
  const toml::table& project = walk(required(m_data->root, "project"), "project", "optional-dependencies");
  const toml::node* node = project.get("optional-dependencies");
  if (node == nullptr) {
    return std::nullopt;
  }
  const toml::table& groups = expect_table(*node, "project.optional-dependencies");
  const auto ordered = in_document_order(groups);
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
  return items_of(
    expect_array(required(walk(required(m_data->root, "build-system"), "build-system", "requires"), "requires"),
                 "build-system.requires"));
}

std::string ProjectConfig::build_backend() const
{
  return expect_string(
    required(walk(required(m_data->root, "build-system"), "build-system", "build-backend"), "build-backend"),
    "build-system.build-backend");
}

std::optional<std::vector<std::string>> ProjectConfig::pyright_exclude() const
{
  return tool_exclude(m_data->root, "pyright");
}

std::optional<std::vector<std::string>> ProjectConfig::ruff_exclude() const
{
  return tool_exclude(m_data->root, "ruff");
}

std::optional<std::string> ProjectConfig::requires_python() const
{
  const toml::node* project = m_data->root.get("project");
  if (project == nullptr) {
    return std::nullopt;
  }
  const toml::node* value = expect_table(*project, "project").get("requires-python");
  if (value == nullptr) {
    return std::nullopt;
  }
  return expect_string(*value, "project.requires-python");
}

bool ProjectConfig::has_extra(std::string_view name) const
{
  const toml::table* project = optional_table(m_data->root, "project");
  const toml::table* extras =
    project == nullptr ? nullptr : optional_table(*project, "optional-dependencies", "project.");
  return extras != nullptr && extras->contains(name);
}

std::optional<std::vector<std::string>> ProjectConfig::dependencies() const
{
  const toml::table* project = optional_table(m_data->root, "project");
  const toml::node* node = project == nullptr ? nullptr : project->get("dependencies");
  if (node == nullptr) {
    return std::nullopt;
  }
  return items_of(expect_array(*node, "project.dependencies"));
}

std::vector<std::string> ProjectConfig::dynamic() const
{
  const toml::table* project = optional_table(m_data->root, "project");
  const toml::node* node = project == nullptr ? nullptr : project->get("dynamic");
  if (node == nullptr) {
    return {};
  }
  return items_of(expect_array(*node, "project.dynamic"));
}

std::optional<DependencyGroups> ProjectConfig::dependency_groups() const
{
  const toml::node* node = m_data->root.get("dependency-groups");
  if (node == nullptr) {
    return std::nullopt;
  }
  return read_dependency_groups(expect_table(*node, "dependency-groups"));
}

std::optional<std::string> ProjectConfig::refresh() const
{
  const toml::node* node = tolvo_setting(m_data->root, "refresh");
  if (node == nullptr) {
    return std::nullopt;
  }
  return expect_string(*node, "tool.tolvo.refresh");
}

std::optional<std::vector<std::string>> ProjectConfig::lint_skip() const
{
  return string_list_setting(m_data->root, "lint-skip");
}

std::optional<std::vector<std::string>> ProjectConfig::test_groups() const
{
  return string_list_setting(m_data->root, "test-groups");
}

std::optional<bool> ProjectConfig::system_site_packages() const
{
  const toml::node* node = tolvo_setting(m_data->root, "system-site-packages");
  if (node == nullptr) {
    return std::nullopt;
  }
  return expect_bool(*node, "tool.tolvo.system-site-packages");
}

std::vector<std::string> ProjectConfig::version_files() const
{
  return dynamic_version_files(m_data->root);
}

std::optional<std::string> ProjectConfig::installer() const
{
  const toml::node* node = tolvo_setting(m_data->root, "installer");
  if (node == nullptr) {
    return std::nullopt;
  }
  return expect_string(*node, "tool.tolvo.installer");
}

} // namespace tolvo::config
