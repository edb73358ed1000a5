#include "tolvo/wheel/wheel_choice.hpp"

#include "tolvo/config/packaging/names.hpp"
#include "tolvo/config/pyproject.hpp"
#include "tolvo/errors.hpp"
#include "tolvo/platform/files.hpp"
#include "tolvo/wheel/wheel_name.hpp"

#include <algorithm>
#include <functional>

namespace tolvo::wheel {

namespace {

struct Candidate
{
  std::string file_name;
  WheelName name;
  std::optional<config::Version> version;
};

[[noreturn]] void refuse(const std::string& directory, std::vector<std::string> listed, const std::string& why)
{
  std::sort(listed.begin(), listed.end());
  std::string message = why + ":\n";
  for (const std::string& name : listed) {
    message.append("  ").append(directory).append("/").append(name).append("\n");
  }
  message += "Remove the stale wheels and run again.";
  throw NotFoundError(message);
}

std::vector<std::string> file_names(const std::vector<Candidate>& candidates)
{
  std::vector<std::string> names;
  names.reserve(candidates.size());
  for (const Candidate& candidate : candidates) {
    names.push_back(candidate.file_name);
  }
  return names;
}

// Keeps the candidates `keep` accepts, unless it accepts none.
void prefer(std::vector<Candidate>& candidates, const std::function<bool(const Candidate&)>& keep)
{
  if (std::none_of(candidates.begin(), candidates.end(), keep)) {
    return;
  }
  std::erase_if(candidates, [&](const Candidate& candidate) { return !keep(candidate); });
}

std::vector<Candidate> wheels_of(const std::vector<std::string>& names, const std::string& project)
{
  const std::string wanted = config::canonicalize_name(project);
  std::vector<Candidate> own;
  for (const std::string& file_name : names) {
    std::optional<WheelName> name = parse_wheel_name(file_name);
    if (name && config::canonicalize_name(name->distribution) == wanted) {
      std::optional<config::Version> version = wheel_version(*name);
      own.push_back(Candidate{file_name, std::move(*name), std::move(version)});
    }
  }
  return own;
}

// The one version all of `own` carry, or none when they disagree or one
// has no valid version.
std::optional<config::Version> common_version(const std::vector<Candidate>& own)
{
  std::optional<config::Version> common;
  for (const Candidate& candidate : own) {
    if (!candidate.version || (common && !(*common == *candidate.version))) {
      return std::nullopt;
    }
    common = candidate.version;
  }
  return common;
}

// The version the project's wheels `own` must carry: the project's, or,
// for a dynamic one, the one they all agree on. None when the project's is
// not a valid version or none of them is the project's.
std::optional<config::Version> wanted_version(const WheelCandidates& candidates, const WheelOwner& owner,
                                              const std::vector<Candidate>& own)
{
  if (owner.version) {
    return config::Version::try_parse(*owner.version);
  }
  if (own.empty()) {
    return std::nullopt;
  }
  std::optional<config::Version> common = common_version(own);
  if (!common) {
    refuse(candidates.directory, candidates.names,
           "the version of " + owner.name + " is dynamic and the wheels in " + candidates.directory +
             "/ are of several versions, so tolvo cannot tell which one is current");
  }
  return common;
}

} // namespace

std::optional<WheelOwner> read_wheel_owner()
{
  const std::optional<std::filesystem::path> path = config::find_pyproject();
  if (!path) {
    return std::nullopt;
  }
  const config::ProjectConfig config(*path);
  const std::vector<std::string> dynamic = config.dynamic();
  if (std::find(dynamic.begin(), dynamic.end(), "version") != dynamic.end()) {
    return WheelOwner{config.name(), std::nullopt};
  }
  return WheelOwner{config.name(), config.version()};
}

std::string choose_wheel(const WheelCandidates& candidates, std::string_view arch, std::string_view libc,
                         const std::optional<WheelOwner>& owner)
{
  const std::string& directory = candidates.directory;
  if (candidates.names.size() == 1) {
    return directory + "/" + candidates.names.front();
  }
  if (!owner) {
    refuse(directory, candidates.names,
           "several wheels in " + directory + "/ and no pyproject.toml to tell which one is the project's");
  }
  std::vector<Candidate> matches = wheels_of(candidates.names, owner->name);
  const std::optional<config::Version> version = wanted_version(candidates, *owner, matches);
  std::erase_if(matches, [&](const Candidate& candidate) {
    return !version || !candidate.version || !(*candidate.version == *version);
  });
  if (matches.empty()) {
    refuse(directory, candidates.names,
           "none of the wheels in " + directory + "/ is a wheel of " + owner->name +
             (owner->version ? " " + *owner->version : std::string()));
  }
  const std::string arch_pattern = "*_" + std::string(arch) + ".whl";
  prefer(matches, [&](const Candidate& c) { return platform::name_matches(arch_pattern, c.file_name); });
  prefer(matches, [&](const Candidate& c) { return fits_libc(c.name, libc); });
  if (matches.size() > 1) {
    refuse(directory, file_names(matches),
           "several wheels in " + directory + "/ are " + owner->name + " " + version->str() + " for " +
             std::string(arch) + " (" + std::string(libc) + "), and tolvo cannot tell which one to test");
  }
  return directory + "/" + matches.front().file_name;
}

} // namespace tolvo::wheel
