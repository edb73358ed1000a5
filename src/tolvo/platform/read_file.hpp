#pragma once

// Reading a whole file that must be a regular file.

#include <string>

namespace tolvo::platform {

/// The bytes of the regular file at `path`. A FIFO or a device is refused
/// without reading (it could hang the run or never end), a directory with
/// EISDIR. Throws SystemError naming the path.
std::string read_regular_file(const std::string& path);

} // namespace tolvo::platform
