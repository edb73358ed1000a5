#pragma once

// Which wheel a wheel test takes when a directory holds several: the one
// built from the project as it stands, told by its name and version.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::wheel {

/// The project whose wheel is under test.
struct WheelOwner
{
  std::string name;
  /// `project.version`; none when the version is dynamic, which only a
  /// build can tell.
  std::optional<std::string> version;
};

/// The wheel file names of one directory, in listing order.
struct WheelCandidates
{
  std::string directory;
  std::vector<std::string> names;
};

/// The project of the pyproject.toml governing the working directory, or
/// none when there is none.
std::optional<WheelOwner> read_wheel_owner();

/// The wheel to test among `candidates`, as "<directory>/<name>". A lone
/// candidate is taken whatever it is. Among several, only the project's own
/// wheels of its version count (versions compare as PEP 440 versions; a
/// dynamic version counts only when all the project's wheels there agree
/// on one); of those, the ones matching "*_<arch>.whl" are preferred, then
/// the ones whose platform tags fit `libc`. Throws NotFoundError, listing
/// the candidates and asking to remove the stale ones, when that leaves
/// none or more than one, or when there is no `owner` to judge by.
std::string choose_wheel(const WheelCandidates& candidates, std::string_view arch, std::string_view libc,
                         const std::optional<WheelOwner>& owner);

} // namespace tolvo::wheel
