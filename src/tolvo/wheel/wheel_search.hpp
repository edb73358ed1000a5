#pragma once

// Finding the wheel a wheel test takes.

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::wheel {

/// The first wheel in wheelhouse/, then dist/, in directory listing order:
/// "*_<arch>.whl" first, then any "*.whl". Returned as "<dir>/<name>". A
/// directory that is missing (or not a directory) is passed over; one that
/// cannot be read is an error.
std::optional<std::string> find_wheel(std::string_view arch);

} // namespace tolvo::wheel
