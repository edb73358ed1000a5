#pragma once

// Removing the build artefacts: everything the tool chain leaves behind.

#include <array>
#include <string_view>

namespace tolvo::build {

/// Directories removed by name, in this order.
inline constexpr std::array<std::string_view, 4> CLEAN_DIRECTORIES = {"build", "dist", ".venv", "wheelhouse"};
/// Patterns matched in the working directory only, in this order.
inline constexpr std::array<std::string_view, 3> CLEAN_TOP_LEVEL_PATTERNS = {"*.egg-info", "*.build", "*.dist"};
/// Directory name removed at any depth.
inline constexpr std::string_view CLEAN_CACHE_DIRECTORY = "__pycache__";
/// File name pattern removed at any depth.
inline constexpr std::string_view CLEAN_BYTECODE_PATTERN = "*.pyc";

/// Removes the build artefacts of the working directory. A mount point at or
/// below any of them stays, said once on standard error; the rest goes on.
/// An interrupting signal stops it at the next entry with Interrupted, and
/// what was removed until then stays removed.
void clean();

} // namespace tolvo::build
