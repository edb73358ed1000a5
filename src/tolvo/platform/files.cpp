#include "tolvo/platform/files.hpp"

#include "tolvo/errors.hpp"
#include "tolvo/platform/files_detail.hpp"
#include "tolvo/platform/handles.hpp"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvo::platform {

namespace {

constexpr std::string_view ELISION = "...";

bool continues_character(char byte)
{
  return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U;
}

EntryKind kind_of_mode(mode_t mode)
{
  if (S_ISDIR(mode)) {
    return EntryKind::directory;
  }
  return S_ISLNK(mode) ? EntryKind::symlink : EntryKind::other;
}

} // namespace

void fail(std::string_view action, std::string_view path, int error)
{
  fail(action, path, std::strerror(error), error);
}

void fail(std::string_view action, std::string_view path, std::string_view reason, int error)
{
  std::string message = "cannot ";
  message.append(action).append(" '").append(shown_path(path)).append("': ").append(reason);
  throw SystemError(message, error);
}

int open_directory_at(int dir_fd, const char* name)
{
  return ::openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// getdents64 on the descriptor itself rather than a DIR stream on a
// duplicate: on a walk of a large tree that saves four system calls per
// directory (dup, two fcntl, fstat) and a close.
int read_entries(int fd, std::vector<Listed>& entries)
{
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t count = ::getdents64(fd, buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (count == 0) {
      return 0;
    }
    for (ssize_t offset = 0; offset < count;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
        continue;
      }
      entries.push_back({name, entry->d_type});
    }
  }
}

int kind_of(int dir_fd, const Listed& entry, EntryKind& kind)
{
  switch (entry.type) {
  case DT_DIR:
    kind = EntryKind::directory;
    return 0;
  case DT_LNK:
    kind = EntryKind::symlink;
    return 0;
  case DT_UNKNOWN:
    break;
  default:
    kind = EntryKind::other;
    return 0;
  }
  struct stat info
  {};
  if (::fstatat(dir_fd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  kind = kind_of_mode(info.st_mode);
  return 0;
}

std::string shown_path(std::string_view path)
{
  if (path.size() <= SHOWN_PATH_LIMIT) {
    return std::string(path);
  }
  const std::size_t kept = SHOWN_PATH_LIMIT - ELISION.size();
  std::size_t head = kept / 2;
  while (head > 0 && continues_character(path[head])) {
    --head;
  }
  std::size_t tail = path.size() - (kept - kept / 2);
  while (tail < path.size() && continues_character(path[tail])) {
    ++tail;
  }
  std::string shown(path.substr(0, head));
  shown.append(ELISION).append(path.substr(tail));
  return shown;
}

bool name_matches(std::string_view pattern, std::string_view name)
{
  return ::fnmatch(std::string(pattern).c_str(), std::string(name).c_str(), 0) == 0;
}

std::vector<std::string> list_directory(const std::string& path)
{
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    fail("open directory", path, errno);
  }
  std::vector<Listed> entries;
  if (const int error = read_entries(fd.get(), entries); error != 0) {
    fail("open directory", path, error);
  }
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (Listed& entry : entries) {
    names.push_back(std::move(entry.name));
  }
  return names;
}

bool entry_kind_at(int dir_fd, const std::string& name, EntryKind& kind)
{
  struct stat info
  {};
  if (::fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      return false;
    }
    fail("inspect", name, errno);
  }
  kind = kind_of_mode(info.st_mode);
  return true;
}

bool resolves_to_directory_at(int dir_fd, const std::string& name)
{
  struct stat info
  {};
  return ::fstatat(dir_fd, name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode);
}

void make_directory(const std::string& path)
{
  if (::mkdir(path.c_str(), 0777) == 0) {
    return;
  }
  const int error = errno;
  struct stat info
  {};
  if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return;
  }
  fail("create directory", path, error == EEXIST ? ENOTDIR : error);
}

} // namespace tolvo::platform
