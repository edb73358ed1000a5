#include "tolvo/build/clean.hpp"

#include "tolvo/platform/files.hpp"
#include "tolvo/platform/interruption.hpp"
#include "tolvo/platform/tree_walk.hpp"

#include <fcntl.h>
#include <iostream>
#include <set>

namespace tolvo::build {

namespace {

// Removes `name` of the working directory as a tree if any entry stands
// there; a link or a file in its place is refused by remove_tree_at.
void remove_if_present(const std::string& name, const platform::MountPointHandler& on_mount_point)
{
  platform::EntryKind kind{};
  if (platform::entry_kind_at(AT_FDCWD, name, kind)) {
    platform::remove_tree_at(AT_FDCWD, name, name, on_mount_point);
  }
}

} // namespace

void clean()
{
  std::cout << "Cleaning build artifacts..." << std::endl;
  std::set<std::string> mount_points;
  const platform::MountPointHandler on_mount_point = [&mount_points](const std::string& path) {
    // Both walks meet the same mount points: each is told once.
    if (mount_points.insert(path).second) {
      std::cerr << "tolvo: skipping '" << platform::shown_path(path) << "': another file system is mounted there"
                << std::endl;
    }
  };
  for (const std::string_view name : CLEAN_DIRECTORIES) {
    remove_if_present(std::string(name), on_mount_point);
  }
  for (const std::string_view pattern : CLEAN_TOP_LEVEL_PATTERNS) {
    for (const std::string& name : platform::list_directory(".")) {
      // Like the shell, a wildcard at the start never matches a hidden name.
      if (name.front() != '.' && platform::name_matches(pattern, name)) {
        remove_if_present(name, on_mount_point);
      }
    }
  }
  platform::walk(
    ".",
    [](const platform::WalkEntry& entry) {
      if (entry.name != CLEAN_CACHE_DIRECTORY) {
        return platform::WalkAction::descend;
      }
      // A link to a directory is due for removal too, and refused as a link;
      // a file of that name is no cache and stays.
      if (entry.kind == platform::EntryKind::directory ||
          (entry.kind == platform::EntryKind::symlink &&
           platform::resolves_to_directory_at(entry.parent_fd, std::string(entry.name)))) {
        return platform::WalkAction::remove_tree;
      }
      return platform::WalkAction::pass;
    },
    on_mount_point);
  platform::walk(
    ".",
    [](const platform::WalkEntry& entry) {
      // A directory of that name fails: it is not byte code to delete.
      return platform::name_matches(CLEAN_BYTECODE_PATTERN, entry.name) ? platform::WalkAction::remove_file
                                                                        : platform::WalkAction::descend;
    },
    on_mount_point);
  // A signal after the last entry still means the clean did not complete.
  platform::raise_if_interrupted();
  std::cout << "Clean complete" << std::endl;
}

} // namespace tolvo::build
