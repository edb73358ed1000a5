#pragma once

// Which commit HEAD names in the git work tree holding a directory, read
// from the repository's own files as git keeps them (a `.git` directory or
// a `.git` file naming one, per-worktree and common refs, loose and packed
// refs), without starting git. Versions derived from the VCS follow HEAD.

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::venv {

/// What work_tree_head() says of a directory that no git work tree holds.
inline constexpr std::string_view NO_WORK_TREE = "-";

/// The commit that HEAD names, as its hex object name; "unborn:<ref>" for a
/// branch without commits; NO_WORK_TREE outside any work tree. None when it
/// cannot be told: GIT_DIR or GIT_WORK_TREE set, refs kept as a reftable, or
/// anything unreadable or malformed.
std::optional<std::string> work_tree_head(const std::string& directory);

} // namespace tolvo::venv
