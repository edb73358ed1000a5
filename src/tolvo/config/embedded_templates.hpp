#pragma once

// The project templates built into the executable (src/tolvo/templates),
// so tolvo reads them from its own image, never from the project.

#include <optional>
#include <string_view>

namespace tolvo::config {

/// The bytes of the built-in template file `name` ("pyproject.toml.tpl",
/// "build.yml.tpl", "test_package.py.tpl"), or none when no such template
/// is built in.
std::optional<std::string_view> embedded_template(std::string_view name);

} // namespace tolvo::config
