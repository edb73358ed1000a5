#pragma once

// The environment's pyvenv.cfg as far as tolvo changes it: whether the
// interpreter sees the base installation's site-packages. Changing the
// project's setting changes the existing environment in place, and since
// the refresh record is tied to this file, what was judged under the old
// setting no longer counts.

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::venv {

/// The key the interpreter's site module reads.
inline constexpr std::string_view SYSTEM_SITE_KEY = "include-system-site-packages";

/// `text` with SYSTEM_SITE_KEY saying `include`, or none when it already
/// does. Read as the site module reads it: the key in any letter case,
/// blanks around key and value ignored, the last line wins, "true" in any
/// case includes, and no line at all includes.
std::optional<std::string> with_system_site_packages(std::string_view text, bool include);

/// Makes the pyvenv.cfg of the environment at `venv_path` say `include`,
/// rewriting it (through a temporary file and a rename) only when it says
/// otherwise. An environment without a readable pyvenv.cfg is left as it
/// is. Throws SystemError when the file cannot be written.
void match_system_site_packages(const std::string& venv_path, bool include);

} // namespace tolvo::venv
