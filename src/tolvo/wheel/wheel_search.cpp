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

} // namespace

std::optional<WheelCandidates> find_wheel_candidates()
{
  for (const std::string directory : {"wheelhouse", "dist"}) {
    const auto names = names_in(directory);
    if (!names.has_value()) {
      continue;
    }
    WheelCandidates candidates{directory, {}};
    for (const std::string& name : *names) {
      if (name.front() != '.' && platform::name_matches("*.whl", name)) {
        candidates.names.push_back(name);
      }
    }
    if (!candidates.names.empty()) {
      return candidates;
    }
  }
  return std::nullopt;
}

std::optional<std::string> find_wheel(std::string_view arch, std::string_view libc)
{
  const std::optional<WheelCandidates> candidates = find_wheel_candidates();
  if (!candidates) {
    return std::nullopt;
  }
  const std::optional<WheelOwner> owner = candidates->names.size() > 1 ? read_wheel_owner() : std::nullopt;
  return choose_wheel(*candidates, arch, libc, owner);
}

} // namespace tolvo::wheel
