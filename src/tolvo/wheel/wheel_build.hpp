#pragma once

// Building wheels in PyPA manylinux/musllinux containers.

#include <optional>
#include <string>

namespace tolvo::wheel {

/// Builds a wheel of the project in the working directory into dist/: a
/// pure wheel, or with `native` a platform wheel repaired by auditwheel.
/// Throws InvalidValue first when `arch` or `python` is not of a safe shape
/// (check_target_values), PreconditionFailure without Docker,
/// CalledProcessError when a container run fails.
void build_manylinux_wheel(bool native, const std::string& arch, const std::string& libc, const std::string& python,
                           const std::optional<std::string>& setup);

} // namespace tolvo::wheel
