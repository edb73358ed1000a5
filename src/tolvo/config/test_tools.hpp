#pragma once

// Where a project keeps the tools its tests need, so that `test` installs
// them: the names `tool.tolvo.test-groups` gives; else its "test" extra;
// else the first of the dependency groups published projects use for
// them; else the "test" extra all the same.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/requirement_names.hpp"

#include <array>
#include <string_view>

namespace tolvo::config {

/// The dependency groups looked for, in order, when neither a setting nor
/// a "test" extra says.
inline constexpr std::array<std::string_view, 4> TEST_GROUP_CANDIDATES = {"test", "tests", "testing", "dev"};

/// The extras and dependency groups that hold the test tools of `project`
/// (none: no pyproject.toml, so the "test" extra). A name of the setting
/// that the project does not define throws the InvalidValue of
/// classify_requirement_names.
RequirementNames test_tool_names(const ProjectConfig* project);

} // namespace tolvo::config
