#pragma once

// Directory listing, walking and tree removal relative to open directory
// descriptors. Symbolic links are never followed into: removal and walks
// stay inside the tree they were given.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::platform {

enum class EntryKind
{
  directory,
  symlink,
  other,
};

/// One entry met by `walk`. `parent_fd` is open on the entry's directory
/// for the duration of the visit.
struct WalkEntry
{
  int parent_fd;
  std::string_view name;
  /// The entry's path, joined onto the walk's root as given ("." omitted).
  std::string path;
  EntryKind kind;
};

/// Whole-name shell wildcard match, letter case included; a leading dot is
/// an ordinary character.
bool name_matches(std::string_view pattern, std::string_view name);

/// The names in directory `path`, in the order the system lists them,
/// without "." and "..".
std::vector<std::string> list_directory(const std::string& path);

/// The kind of `name` in `dir_fd` without following a final symbolic link,
/// or false when there is no such entry.
bool entry_kind_at(int dir_fd, const std::string& name, EntryKind& kind);

/// Whether `name` in `dir_fd` resolves, through symbolic links, to a directory.
bool resolves_to_directory_at(int dir_fd, const std::string& name);

/// Removes the directory `name` in `dir_fd` with everything beneath it.
/// A symbolic link or any other non-directory is refused with ENOTDIR
/// and left in place. `display` names the entry in error messages.
/// Throws SystemError("cannot remove '<path>': <reason>").
void remove_tree_at(int dir_fd, const std::string& name, const std::string& display);

/// Removes the non-directory `name` in `dir_fd`; a directory fails with EISDIR.
void remove_file_at(int dir_fd, const std::string& name, const std::string& display);

/// Visits every entry below `root`, top-down, hidden names included.
/// Directories are entered when `visit` returns true; symbolic links are
/// reported but never entered. The names of a directory are read before
/// any is visited, so `visit` may remove the entry it is given.
void walk(const std::string& root, const std::function<bool(const WalkEntry&)>& visit);

/// Creates the single directory `path` unless a directory (possibly
/// through a link) already stands there; anything else fails.
void make_directory(const std::string& path);

} // namespace tolvo::platform
