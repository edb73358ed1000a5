#pragma once

// Finding the wheel a wheel test takes.

#include "tolvo/wheel/wheel_choice.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::wheel {

/// The "*.whl" names of the first of wheelhouse/ and dist/ that holds any,
/// in directory listing order; names starting with "." are passed over, as
/// the shell does. A directory that is missing (or not a directory) is
/// passed over; one that cannot be read is an error.
std::optional<WheelCandidates> find_wheel_candidates();

/// The wheel to test, as "<dir>/<name>": the lone wheel of the first
/// directory holding any, or the one choose_wheel takes among several,
/// judged by the project's pyproject.toml (read only then). None when
/// there is no wheel; throws NotFoundError when several leave no single
/// choice.
std::optional<std::string> find_wheel(std::string_view arch, std::string_view libc);

} // namespace tolvo::wheel
