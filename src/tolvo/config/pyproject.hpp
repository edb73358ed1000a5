#pragma once

// ProjectConfig: the one reader of a project's pyproject.toml. It keeps the
// parsed document whole and answers read-only questions about it;
// every accessor walks the document afresh.

#include "tolvo/config/dependency_groups.hpp"

#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvo::config {

/// One optional-dependency group: its name and its requirement strings.
struct ExtraGroup
{
  std::string name;
  std::vector<std::string> requirements;
};

/// The groups of `project.optional-dependencies`, in document order.
using Extras = std::vector<ExtraGroup>;

/// The absolute path of the pyproject.toml governing the working directory:
/// the nearest one in it or its ancestors, or none.
std::optional<std::filesystem::path> find_pyproject();

class ProjectConfig
{
public:
  /// Finds pyproject.toml from the working directory upward and reads it.
  /// Throws NotFoundError "pyproject.toml not found".
  ProjectConfig();
  /// Reads exactly `path`; no search.
  explicit ProjectConfig(const std::filesystem::path& path);
  /// Parses the bytes of `stream`; reads no file.
  explicit ProjectConfig(std::istream& stream);

  ~ProjectConfig();
  ProjectConfig(ProjectConfig&&) noexcept;
  ProjectConfig& operator=(ProjectConfig&&) noexcept;

  /// `project.name`; MissingKeyError when absent, AssertionFailure when not a string.
  std::string name() const;
  /// `project.version`.
  std::string version() const;
  /// `project.optional-dependencies` in document order, or none. Each
  /// group must be an array; non-string items are given in TOML text form.
  std::optional<Extras> extras() const;
  /// `build-system.requires`.
  std::vector<std::string> build_system_requires() const;
  /// `build-system.build-backend`.
  std::string build_backend() const;
  /// `tool.pyright.exclude`, or none; `tool` itself is required.
  std::optional<std::vector<std::string>> pyright_exclude() const;
  /// `tool.ruff.exclude`, or none; `tool` itself is required.
  std::optional<std::vector<std::string>> ruff_exclude() const;
  /// `project.requires-python`, or none; a missing `project` is tolerated.
  std::optional<std::string> requires_python() const;

  /// Whether `project.optional-dependencies` has a group of exactly this
  /// name; a missing `project` is tolerated (a setup.py project's).
  bool has_extra(std::string_view name) const;
  /// `project.dependencies`, or none; a missing `project` is tolerated.
  std::optional<std::vector<std::string>> dependencies() const;
  /// `project.dynamic`, empty when absent; a missing `project` is tolerated.
  std::vector<std::string> dynamic() const;
  /// The top-level `dependency-groups` (PEP 735) in document order, or none.
  std::optional<DependencyGroups> dependency_groups() const;
  /// `tool.tolvo.refresh` as written, or none; `tool` may be absent.
  std::optional<std::string> refresh() const;
  /// `tool.tolvo.lint-skip` as written, or none; `tool` may be absent. Every
  /// item must be a string.
  std::optional<std::vector<std::string>> lint_skip() const;
  /// `tool.tolvo.test-groups`: the extras and dependency groups that hold
  /// the test tools, as written, or none; every item must be a string.
  std::optional<std::vector<std::string>> test_groups() const;
  /// `tool.tolvo.system-site-packages`, or none; must be a boolean.
  std::optional<bool> system_site_packages() const;
  /// The files, relative to the project, that the build back end's own
  /// settings read a dynamic version from: hatch's and pdm's `path`,
  /// setuptools' `file`, and the module of setuptools' `attr` or of a flit
  /// project, each module in every place it may be (top level or `src/`,
  /// a module file or a package).
  std::vector<std::string> version_files() const;
  /// `tool.tolvo.installer` as written, or none; `tool` may be absent.
  std::optional<std::string> installer() const;

private:
  struct Document;
  std::unique_ptr<const Document> m_data;
};

} // namespace tolvo::config
