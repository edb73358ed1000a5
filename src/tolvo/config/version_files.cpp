#include "tolvo/config/version_files.hpp"

#include <algorithm>

namespace tolvo::config {

std::vector<std::string> dynamic_version_files(const toml::table& root)
{
  std::vector<std::string> files;
  for (const char* path : {"tool.hatch.version.path", "tool.pdm.version.path"}) {
    if (const std::optional<std::string> named = root.at_path(path).value<std::string>()) {
      files.push_back(*named);
    }
  }
  const auto setuptools_file = root.at_path("tool.setuptools.dynamic.version.file");
  if (const std::optional<std::string> file = setuptools_file.value<std::string>()) {
    files.push_back(*file);
  } else if (const toml::array* list = setuptools_file.as_array()) {
    for (const toml::node& item : *list) {
      if (const std::optional<std::string> named = item.value<std::string>()) {
        files.push_back(*named);
      }
    }
  }
  std::vector<std::string> modules;
  if (const auto attr = root.at_path("tool.setuptools.dynamic.version.attr").value<std::string>()) {
    // "package.module.__version__": the module holds the value.
    if (const std::size_t dot = attr->rfind('.'); dot != std::string::npos) {
      modules.push_back(attr->substr(0, dot));
    }
  }
  if (root.at_path("build-system.build-backend").value<std::string>().value_or("").rfind("flit", 0) == 0) {
    std::string name = root.at_path("tool.flit.module.name")
                         .value<std::string>()
                         .value_or(root.at_path("project.name").value<std::string>().value_or(""));
    std::replace(name.begin(), name.end(), '-', '_');
    modules.push_back(name);
  }
  for (std::string module : modules) {
    std::replace(module.begin(), module.end(), '.', '/');
    for (const char* prefix : {"", "src/"}) {
      files.push_back(prefix + module + ".py");
      files.push_back(prefix + module + "/__init__.py");
    }
  }
  return files;
}

} // namespace tolvo::config
