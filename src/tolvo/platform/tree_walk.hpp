#pragma once

// Walking and removing directory trees of any depth, relative to open
// directory descriptors. The levels of a tree are an explicit stack, not
// recursion, and at most OPEN_LEVELS of them are open at once: the levels
// further up are closed on the way down and reopened through ".." on the
// way back, each checked to be the directory that was left. Symbolic links
// are never followed into, no other mounted file system is entered, and an
// interrupting signal stops the work at the next entry (Interrupted).

#include "tolvo/platform/files.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tolvo::platform {

/// How many directory levels a walk or a removal keeps open at most.
inline constexpr std::size_t OPEN_LEVELS = 16;

class TreeCursor;

/// What a walk does with an entry it meets.
enum class WalkAction
{
  /// Leave it as it is.
  pass,
  /// Enter it if it is a directory.
  descend,
  /// Remove it as remove_tree_at does.
  remove_tree,
  /// Remove it as a file; a directory fails with EISDIR.
  remove_file,
};

/// One entry met by `walk`, valid during the call that is given it.
struct WalkEntry
{
  /// Open on the entry's directory.
  int parent_fd;
  std::string_view name;
  EntryKind kind;
  /// Where the walk stands, for path().
  const TreeCursor* cursor;

  /// The entry's path, joined onto the walk's root as given ("." omitted);
  /// built when asked for, since a deep tree makes it long.
  std::string path() const;
};

/// Called with the full path of each mount point met, which is left in
/// place together with the directories that lead to it.
using MountPointHandler = std::function<void(const std::string& path)>;

/// Visits every entry below `root`, top-down, hidden names included, and
/// does with each what `decide` answers. The names of a directory are read
/// before any of them is visited. Entries gone since are passed over.
/// Throws SystemError("cannot <action> '<path>': <reason>"), Interrupted.
void walk(const std::string& root, const std::function<WalkAction(const WalkEntry&)>& decide,
          const MountPointHandler& on_mount_point);

/// Removes the directory `name` in `dir_fd` with everything beneath it.
/// A symbolic link or any other non-directory is refused with ENOTDIR and
/// left in place. `display` names the entry in messages.
/// Throws SystemError("cannot remove '<path>': <reason>"), Interrupted.
void remove_tree_at(int dir_fd, const std::string& name, const std::string& display,
                    const MountPointHandler& on_mount_point);

} // namespace tolvo::platform
