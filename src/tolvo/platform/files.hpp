#pragma once

// Directory listing, entry kinds and how messages show paths. Walking and
// removing whole trees is tree_walk.hpp.

#include <cstddef>
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

/// The longest path a message shows whole: a tree may be deeper than any
/// terminal is wide.
inline constexpr std::size_t SHOWN_PATH_LIMIT = 200;

/// `path` as messages show it: whole up to SHOWN_PATH_LIMIT bytes, else its
/// start and its end around "...", SHOWN_PATH_LIMIT bytes in all, cut
/// between UTF-8 characters.
std::string shown_path(std::string_view path);

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

/// Creates the single directory `path` unless a directory (possibly
/// through a link) already stands there; anything else fails.
void make_directory(const std::string& path);

} // namespace tolvo::platform
