#pragma once

// The shell scripts run inside the build and test containers. Each script
// starts with a line break and ends every line, the last one included,
// with one.

#include "tolvo/wheel/test_selection.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::wheel {

/// The build option that makes the project's back end build a pure wheel.
inline constexpr std::string_view PURE_WHEEL_BUILD_FLAG = "--config-setting=build_with_nuitka=false";

/// Line prefix that gives a musl test image the git the tests need.
inline constexpr std::string_view MUSL_GIT_PREFIX = "apk add --no-cache git;";

/// Fixed identity the tests' git commands commit under; the domain is
/// reserved, so no real mailbox is ever named.
inline constexpr std::string_view TEST_GIT_EMAIL = "test@example.invalid";

/// The build script's line that hands what the build leaves in the project
/// (dist/, the root-level *.egg-info/ directories, build/, and the target/
/// of a Rust back end such as maturin) to the owner of the project
/// directory, `$owner`; the container runs as its superuser.
inline constexpr std::string_view OWNERSHIP_LINE = "for entry in dist/ *.egg-info/ build/ target/; do if [ -e "
                                                   "\"$entry\" ]; then chown -R \"$owner\" \"$entry\"; fi; done";

/// The build flags: none for a native wheel, the pure-wheel option otherwise.
std::vector<std::string> build_flags(bool native);

/// The build container's bash script for interpreter tag `interpreter`
/// (see get_python_interpreter). `setup` is inserted verbatim when present
/// and not empty.
std::string compose_build_script(bool native, std::string_view arch, std::string_view interpreter,
                                 const std::optional<std::string>& setup);

/// `path` made safe inside a double-quoted shell word: `"`, `$`, backtick
/// and backslash get a backslash in front; everything else is unchanged.
std::string shell_double_quote_escape(std::string_view path);

/// The test container's sh script, without any platform prefix. pytest
/// is given the selection's path and arguments, each quoted for the shell
/// where it needs it.
std::string compose_test_script(std::string_view wheel_path, const std::optional<std::string>& setup,
                                const TestSelection& selection = {});

/// The test script with the prefixes the platform needs on line 1: the
/// git installation for musl, and in front of everything the Rust
/// installer where the architecture asks for it. Throws
/// Unsupported for an unknown libc when Rust is needed.
std::string compose_platform_test_script(std::string_view wheel_path, std::string_view arch, std::string_view libc,
                                         const std::optional<std::string>& setup, const TestSelection& selection = {});

} // namespace tolvo::wheel
