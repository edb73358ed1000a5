#pragma once

// Finding the program of a child process, and the environments children get.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tolvo::platform {

/// A complete environment for a child: variable name to value.
using Environment = std::map<std::string, std::string>;

/// The search path used when the environment sets no PATH, as execvp does.
inline constexpr std::string_view DEFAULT_PATH = "/usr/local/bin:/usr/bin:/bin";

/// A copy of this process's own environment.
Environment current_environment();

/// The PATH a child started with `env` (inherited when absent) searches.
std::string search_path_of(const std::optional<Environment>& env);

/// Looks `program` up on `search_path` the way execvp does, so that a child
/// is found on the PATH it will itself see, not on ours. A name with a "/"
/// is returned as it is. Returns "" and sets `error_number` (ENOENT, or
/// EACCES when only a non-executable candidate exists) when not found.
std::string resolve_program(const std::string& program, const std::string& search_path, int& error_number);

} // namespace tolvo::platform
