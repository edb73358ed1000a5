#pragma once

// What the listing and the tree walk share: a descriptor owner, the raw
// directory listing and the errors both throw. Internal to the platform
// layer: use files.hpp and tree_walk.hpp.

#include "tolvo/platform/files.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvo::platform {

/// Owns an open descriptor and closes it; -1 when it holds none.
class Descriptor
{
public:
  Descriptor() noexcept = default;
  explicit Descriptor(int fd) noexcept
    : m_fd(fd)
  {}
  ~Descriptor() { reset(); }
  Descriptor(Descriptor&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
  {}
  Descriptor& operator=(Descriptor&& other) noexcept
  {
    if (this != &other) {
      reset(std::exchange(other.m_fd, -1));
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const noexcept { return m_fd; }

  /// Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd = -1) noexcept;

private:
  int m_fd = -1;
};

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
