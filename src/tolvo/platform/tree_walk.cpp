#include "tolvo/platform/tree_walk.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files_detail.hpp"
#include "tolvo/platform/handles.hpp"
#include "tolvo/platform/interruption.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace tolvo::platform {

namespace {

// Which directory a descriptor is open on, and whether it is the root of a
// mount.
struct Identity
{
  dev_t device = 0;
  ino_t inode = 0;
  bool mount_root = false;
};

// statx tells a mount point even where a directory of the same file system
// is bind-mounted there, which leaves the device as it was. Without statx
// (an old kernel, a sandbox that forbids it) the device alone tells.
int identify(int fd, Identity& identity)
{
  struct statx info
  {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO, &info) == 0) {
    identity.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    identity.inode = info.stx_ino;
    identity.mount_root = (info.stx_attributes_mask & info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return 0;
  }
  if (errno != ENOSYS && errno != EPERM) {
    return errno;
  }
  struct stat status
  {};
  if (::fstatat(fd, "", &status, AT_EMPTY_PATH) != 0) {
    return errno;
  }
  identity = {status.st_dev, status.st_ino, false};
  return 0;
}

// A directory of the stack: its listing and how far it has been dealt
// with. Its descriptor is closed while it is more than OPEN_LEVELS up.
struct Level
{
  UniqueFd fd;
  Identity identity;
  std::vector<Listed> entries;
  std::size_t next = 0;
  // Everything in it goes, and then the directory itself...
  bool removing = false;
  // ...unless a mount point stays below it.
  bool keeps_mount_point = false;
};

} // namespace

// The stack of a walk or a removal. Each level but the first was entered by
// the name its parent is at (entries[next - 1]), so paths are only built
// for messages.
class TreeCursor
{
public:
  TreeCursor(int base_fd, std::string root_name, std::string root_display, const MountPointHandler& on_mount_point)
    : m_base_fd(base_fd),
      m_root_name(std::move(root_name)),
      m_root_display(std::move(root_display)),
      m_on_mount_point(on_mount_point)
  {}

  // Opens the root of a walk, through links like any path a user gives.
  void open_root()
  {
    UniqueFd fd(::open(m_root_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
      fail("open directory", m_root_display, errno);
    }
    push(std::move(fd), m_root_name, false, nullptr);
  }

  // Opens the directory `name` of the innermost level (of the base at
  // first) as the new innermost level. False when there is none to enter:
  // a mount point (reported and left alone) or, if `may_vanish`, an entry
  // gone since the listing.
  bool descend(const std::string& name, bool removing, bool may_vanish)
  {
    const int parent_fd = m_levels.empty() ? m_base_fd : m_levels.back().fd.get();
    UniqueFd fd(open_directory_at(parent_fd, name.c_str()));
    if (fd.get() < 0) {
      const int error = errno;
      if (error == ENOENT && may_vanish) {
        return false;
      }
      // O_NOFOLLOW refuses a link with ELOOP: it is no directory either.
      fail(removing ? "remove" : "open directory", path_of(name), error == ELOOP ? ENOTDIR : error);
    }
    Identity base{};
    if (m_levels.empty()) {
      if (const int error = identify(m_base_fd, base); error != 0) {
        fail("inspect", path_of(name), error);
      }
    }
    return push(std::move(fd), name, removing, m_levels.empty() ? &base : &m_levels.back().identity);
  }

  // Deals with the entries level after level until the stack is empty.
  void run(const std::function<WalkAction(const WalkEntry&)>* decide)
  {
    while (!m_levels.empty()) {
      Level& level = m_levels.back();
      if (level.next == level.entries.size()) {
        ascend();
        continue;
      }
      raise_if_interrupted();
      const Listed& entry = level.entries[level.next++];
      if (level.removing) {
        remove_entry(level, entry);
      } else {
        visit_entry(level, entry, *decide);
      }
    }
  }

  // The path of `name` in the innermost level, or the root's before the
  // root is open.
  std::string path_of(std::string_view name) const
  {
    if (m_levels.empty()) {
      return m_root_display;
    }
    std::string path = m_root_display == "." ? std::string() : m_root_display;
    const auto append = [&path](std::string_view part) {
      if (!path.empty() && path.back() != '/') {
        path += '/';
      }
      path += part;
    };
    for (std::size_t i = 0; i + 1 < m_levels.size(); ++i) {
      append(current_name(m_levels[i]));
    }
    append(name);
    return path;
  }

private:
  static const std::string& current_name(const Level& level) { return level.entries[level.next - 1].name; }

  // `parent` is the identity of the directory `fd` was opened in, or null
  // for the root of a walk, which may well be a mount point itself.
  bool push(UniqueFd fd, const std::string& name, bool removing, const Identity* parent)
  {
    const std::string_view action = removing ? "remove" : "open directory";
    Level level;
    if (const int error = identify(fd.get(), level.identity); error != 0) {
      fail(action, path_of(name), error);
    }
    if (parent != nullptr && (level.identity.mount_root || level.identity.device != parent->device)) {
      if (!m_levels.empty()) {
        m_levels.back().keeps_mount_point = true;
      }
      m_on_mount_point(path_of(name));
      return false;
    }
    if (const int error = read_entries(fd.get(), level.entries); error != 0) {
      fail(action, path_of(name), error);
    }
    level.fd = std::move(fd);
    level.removing = removing;
    m_levels.push_back(std::move(level));
    if (m_levels.size() > OPEN_LEVELS) {
      m_levels[m_levels.size() - 1 - OPEN_LEVELS].fd.reset();
    }
    return true;
  }

  // Leaves the innermost level for its parent; a level being removed goes
  // with it unless it keeps a mount point.
  void ascend()
  {
    Level left = std::move(m_levels.back());
    m_levels.pop_back();
    if (m_levels.empty()) {
      if (left.removing && !left.keeps_mount_point) {
        left.fd.reset();
        if (::unlinkat(m_base_fd, m_root_name.c_str(), AT_REMOVEDIR) != 0) {
          fail("remove", m_root_display, errno);
        }
      }
      return;
    }
    Level& parent = m_levels.back();
    const std::string& name = current_name(parent);
    if (parent.fd.get() < 0) {
      reopen(parent, left);
    }
    left.fd.reset();
    if (!left.removing) {
      return;
    }
    if (left.keeps_mount_point) {
      parent.keeps_mount_point = true;
    } else if (::unlinkat(parent.fd.get(), name.c_str(), AT_REMOVEDIR) != 0) {
      fail("remove", path_of(name), errno);
    }
  }

  // Reopens `parent`, closed on the way down, through ".." of the level just
  // left. If that level has been moved away meanwhile, ".." is some other
  // directory, and working on there would touch what is not ours: the
  // identity remembered tells.
  void reopen(Level& parent, const Level& left) const
  {
    const std::string_view action = left.removing ? "remove" : "open directory";
    parent.fd.reset(open_directory_at(left.fd.get(), ".."));
    if (parent.fd.get() < 0) {
      fail(action, path_of(current_name(parent)), errno);
    }
    Identity found{};
    if (const int error = identify(parent.fd.get(), found); error != 0) {
      fail(action, path_of(current_name(parent)), error);
    }
    if (found.device != parent.identity.device || found.inode != parent.identity.inode) {
      fail(action, path_of(current_name(parent)), "moved elsewhere meanwhile", ESTALE);
    }
  }

  void remove_entry(const Level& level, const Listed& entry)
  {
    EntryKind kind{};
    if (const int error = kind_of(level.fd.get(), entry, kind); error != 0) {
      fail("remove", path_of(entry.name), error);
    }
    if (kind == EntryKind::directory) {
      descend(entry.name, true, false);
    } else if (::unlinkat(level.fd.get(), entry.name.c_str(), 0) != 0) {
      fail("remove", path_of(entry.name), errno);
    }
  }

  void visit_entry(const Level& level, const Listed& entry, const std::function<WalkAction(const WalkEntry&)>& decide)
  {
    EntryKind kind{};
    if (const int error = kind_of(level.fd.get(), entry, kind); error != 0) {
      // Gone since the listing (removed by an earlier action): nothing to see.
      if (error == ENOENT) {
        return;
      }
      fail("inspect", path_of(entry.name), error);
    }
    switch (decide(WalkEntry{level.fd.get(), entry.name, kind, this})) {
    case WalkAction::pass:
      break;
    case WalkAction::descend:
      if (kind == EntryKind::directory) {
        descend(entry.name, false, true);
      }
      break;
    case WalkAction::remove_tree:
      descend(entry.name, true, false);
      break;
    case WalkAction::remove_file:
      if (::unlinkat(level.fd.get(), entry.name.c_str(), 0) != 0) {
        fail("remove", path_of(entry.name), errno);
      }
      break;
    }
  }

  int m_base_fd;
  std::string m_root_name;
  std::string m_root_display;
  const MountPointHandler& m_on_mount_point;
  std::vector<Level> m_levels;
};

std::string WalkEntry::path() const
{
  return cursor->path_of(name);
}

void walk(const std::string& root, const std::function<WalkAction(const WalkEntry&)>& decide,
          const MountPointHandler& on_mount_point)
{
  TreeCursor cursor(AT_FDCWD, root, root, on_mount_point);
  cursor.open_root();
  cursor.run(&decide);
}

void remove_tree_at(int dir_fd, const std::string& name, const std::string& display,
                    const MountPointHandler& on_mount_point)
{
  TreeCursor cursor(dir_fd, name, display, on_mount_point);
  if (cursor.descend(name, true, false)) {
    cursor.run(nullptr);
  }
}

} // namespace tolvo::platform
