#include "tolvo/wheel/wheel_search.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"

#include <cerrno>
#include <vector>

namespace tolvo::wheel {

namespace {

// The names of `directory`, or none when there is no directory there.
std::optional<std::vector<std::string>> names_in(const std::string& directory)
{
  try {
    return platform::list_directory(directory);
  } catch (const SystemError& error) {
    if (error.error_number() == ENOENT || error.error_number() == ENOTDIR) {
      return std::nullopt;
    }
    throw;
  }
}

std::optional<std::string> first_match(const std::vector<std::string>& names, const std::string& pattern)
{
  for (const std::string& name : names) {
    // A leading dot is not matched by "*", as in the shell.
    if (name.front() != '.' && platform::name_matches(pattern, name)) {
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
    const auto names = names_in(directory);
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
