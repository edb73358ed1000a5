// The wheel search lives apart from the container runs so that it can be
// used and tested without the process layer.

#include "tolvo/wheel/wheels.hpp"

#include <dirent.h>
#include <fnmatch.h>
#include <optional>
#include <string>
#include <vector>

namespace tolvo::wheel {

namespace {

/// Entry names of `directory` in the order the system lists them; nullopt
/// when it cannot be opened (missing, or not a directory).
std::optional<std::vector<std::string>> list_directory(const std::string& directory)
{
  DIR* handle = opendir(directory.c_str());
  if (handle == nullptr) {
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(handle)) {
    names.emplace_back(entry->d_name);
  }
  closedir(handle);
  return names;
}

std::optional<std::string> first_match(const std::vector<std::string>& names, const std::string& pattern)
{
  for (const std::string& name : names) {
    // A leading dot is not matched by "*", as in the shell.
    if (fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) == 0) {
      return name;
    }
  }
  return std::nullopt;
}

} // namespace

std::optional<std::string> find_wheel(std::string_view arch)
{
  const std::string arch_pattern = "*_" + std::string(arch) + ".whl";
  for (const std::string directory : {"wheelhouse", "dist"}) {
    const auto names = list_directory(directory);
    if (!names.has_value()) {
      continue;
    }
    auto found = first_match(*names, arch_pattern);
    if (!found.has_value()) {
      found = first_match(*names, "*.whl");
    }
    if (found.has_value()) {
      return directory + "/" + *found;
    }
  }
  return std::nullopt;
}

} // namespace tolvo::wheel
