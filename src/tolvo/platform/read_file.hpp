#pragma once

// Reading a whole file that must be a regular file.

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::platform {

/// The bytes of the regular file at `path`. A FIFO or a device is refused
/// without reading (it could hang the run or never end), a directory with
/// EISDIR. Throws SystemError naming the path.
std::string read_regular_file(const std::string& path);

/// The bytes of the regular file at `path`, read until a read brings in
/// `terminator` (so usually a little beyond it) or to the end; none when
/// the file is missing, not regular or cannot be read. For files whose
/// absence is an answer, not an error.
std::optional<std::string> read_file_until(const std::string& path, std::string_view terminator = {});

} // namespace tolvo::platform
