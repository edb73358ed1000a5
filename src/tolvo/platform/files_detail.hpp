#pragma once

// What the listing and the tree walk share: the raw directory listing and
// the errors both throw. Internal to the platform layer: use files.hpp and
// tree_walk.hpp.

#include "tolvo/platform/files.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tolvo::platform {

/// One name of a directory listing, with the type the listing gave (DT_*).
struct Listed
{
  std::string name;
  unsigned char type;
};

/// Throws SystemError("cannot <action> '<path>': <strerror(error)>"), the
/// path as shown_path() shows it.
[[noreturn]] void fail(std::string_view action, std::string_view path, int error);

/// The same with a reason of its own in place of strerror.
[[noreturn]] void fail(std::string_view action, std::string_view path, std::string_view reason, int error);

/// Opens the directory `name` of `dir_fd` for reading, never through a link.
int open_directory_at(int dir_fd, const char* name);

/// Appends the names of the open directory `fd`, read to its end, to
/// `entries`; 0, or the errno of the failed read.
int read_entries(int fd, std::vector<Listed>& entries);

/// The kind of `entry` of `dir_fd`: from the listing's type, or from the
/// entry itself where the file system did not say; 0, or the errno.
int kind_of(int dir_fd, const Listed& entry, EntryKind& kind);

} // namespace tolvo::platform
